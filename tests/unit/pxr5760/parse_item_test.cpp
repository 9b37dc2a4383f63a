// Item addresses of the pxr5760 family: the register table, the accepted
// forms, the order of the checks, and which fields a failure leaves written.
#include <cstring>
#include <string>

#include "driver/address.h"
#include "gtest/gtest.h"
#include "pxr5760/pxr5760.h"

namespace tarvo {
namespace {

constexpr int16_t kUnset = -7;  // marks fields ParseItem must not write
constexpr int16_t F = kDataTypeFloat;
constexpr int16_t D = kDataTypeDiscrete;

TEST(Pxr5760Registers, TableOfSevenWithOnlyDoWritable) {
  CPxr5760 driver;
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver.GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 7);
  const struct {
    const char* name;
    int32_t access;
    int32_t type;
  } expected[] = {{"TA", 1, 128}, {"HB", 1, 128}, {"KT", 1, 128}, {"LT", 1, 128},
                  {"DI", 1, 1},   {"DO", 3, 1},   {"AD", 1, 128}};
  for (int i = 0; i < 7; ++i) {
    EXPECT_STREQ(table[i].Name, expected[i].name);
    EXPECT_EQ(table[i].Access, expected[i].access) << expected[i].name;
    EXPECT_EQ(table[i].DataType1, expected[i].type) << expected[i].name;
    EXPECT_EQ(table[i].DataType2, expected[i].type) << expected[i].name;
  }
}

struct Case {
  const char* address;
  int16_t dataType;
  int32_t code;  // ErrOk: accepted
  // Fields after the call; kUnset where ParseItem must not have written.
  int16_t registerIndex;
  int32_t module;
  int16_t channel;
  int16_t point;
  int16_t subIndex;
};

class Pxr5760ParseItem : public ::testing::TestWithParam<Case> {};

TEST_P(Pxr5760ParseItem, FillsTheItem) {
  const Case& c = GetParam();
  CPxr5760 driver;
  IoItem item{};
  item.RegisterIndex = kUnset;
  item.ModuleAddress = kUnset;
  item.Channel = kUnset;
  item.Point = kUnset;
  item.SubIndex = kUnset;
  item.DataType = c.dataType;
  EXPECT_EQ(driver.ParseItem(c.address, &item), c.code == ErrOk ? 1 : 0);
  EXPECT_EQ(driver.ErrorCode(), c.code);
  EXPECT_EQ(item.RegisterIndex, c.registerIndex);
  EXPECT_EQ(item.ModuleAddress, c.module);
  EXPECT_EQ(item.Channel, c.channel);
  EXPECT_EQ(item.Point, c.point);
  EXPECT_EQ(item.SubIndex, c.subIndex);
  EXPECT_EQ(item.DataType, c.dataType);
}

constexpr int16_t U = kUnset;

INSTANTIATE_TEST_SUITE_P(
    Addresses, Pxr5760ParseItem,
    ::testing::Values(
        // Every register, in either case; TA, HB and KT take no sub-index.
        Case{"ta5.1.2", F, ErrOk, 1, 5, 1, 2, U}, Case{"TA12.3.17", F, ErrOk, 1, 12, 3, 17, U},
        Case{"Hb0.0.0", F, ErrOk, 2, 0, 0, 0, U}, Case{"kT127.7.31", F, ErrOk, 3, 127, 7, 31, U},
        Case{"LT5.0.4.2", F, ErrOk, 4, 5, 0, 4, 2}, Case{"di9.1.3.0", D, ErrOk, 5, 9, 1, 3, 0},
        Case{"DO3.2.10.7", D, ErrOk, 6, 3, 2, 10, 7}, Case{"aD5.0.4.2", F, ErrOk, 7, 5, 0, 4, 2},
        Case{"TA5.1.2.3", F, ErrOk, 1, 5, 1, 2, U},
        // Only three module digits count; anything before the first point is ignored.
        Case{"TA1234.1.2", F, ErrOk, 1, 123, 1, 2, U}, Case{"AD5x.1.2.3", F, ErrOk, 7, 5, 1, 2, 3},
        // Missing numbers read as 0; text between and behind them is ignored.
        Case{"AD5.0.4.", F, ErrOk, 7, 5, 0, 4, 0}, Case{"LT5...", F, ErrOk, 4, 5, 0, 0, 0},
        Case{"AD5.1a.2b.3c.4", F, ErrOk, 7, 5, 1, 2, 3}, Case{"DI5.0.1.x", D, ErrOk, 5, 5, 0, 1, 0},
        // Points up to 63 and any sub-index pass here; reads and writes refuse them.
        Case{"TA5.0.40", F, ErrOk, 1, 5, 0, 40, U}, Case{"LT5.0.63.9", F, ErrOk, 4, 5, 0, 63, 9},
        Case{"DO5.0.0.65535", D, ErrOk, 6, 5, 0, 0, -1},
        Case{"AD5.0.0.65537", F, ErrOk, 7, 5, 0, 0, 1},
        // Register name first: unknown names whatever the data type.
        Case{"XY5.0.0", F, ErrRegisterUnsupported, U, U, U, U, U},
        Case{"XY5.0.0.0", D, ErrRegisterUnsupported, U, U, U, U, U},
        Case{"TB5.0.0", F, ErrRegisterUnsupported, U, U, U, U, U},
        Case{"D", D, ErrRegisterUnsupported, U, U, U, U, U},
        Case{"", F, ErrRegisterUnsupported, U, U, U, U, U},
        // Data type: 1 for DI and DO, 128 for the others; nothing written yet.
        Case{"TA5.1.2", D, ErrDataType, U, U, U, U, U},
        Case{"DO5.1.2.3", F, ErrDataType, U, U, U, U, U},
        Case{"DI5.1.2.3", 0, ErrDataType, U, U, U, U, U},
        Case{"AD5.1.2.3", D, ErrDataType, U, U, U, U, U},
        // No module digit right behind the name.
        Case{"TA.1.2", F, ErrRegisterUnsupported, 1, U, U, U, U},
        Case{"AD", F, ErrRegisterUnsupported, 7, U, U, U, U},
        Case{"DO x5.1.2.3", D, ErrRegisterUnsupported, 6, U, U, U, U},
        // Dotted part missing or incomplete: nothing of it is written.
        Case{"LT5.1.2", F, ErrRegisterName, 4, 5, U, U, U},
        Case{"AD5.1.2", F, ErrRegisterName, 7, 5, U, U, U},
        Case{"DI5.1", D, ErrRegisterName, 5, 5, U, U, U},
        Case{"TA5.1", F, ErrRegisterName, 1, 5, U, U, U},
        Case{"TA5.", F, ErrRegisterName, 1, 5, U, U, U},
        Case{"KT5", F, ErrRegisterName, 3, 5, U, U, U},
        // Ranges, checked module, channel, point; the fields stay written.
        Case{"TA128.0.0", F, ErrModuleAddress, 1, 128, 0, 0, U},
        Case{"LT999.9.99.9", F, ErrModuleAddress, 4, 999, 9, 99, 9},
        Case{"TA5.8.0", F, ErrChannel, 1, 5, 8, 0, U},
        Case{"DO5.65535.0.0", D, ErrChannel, 6, 5, -1, 0, 0},
        Case{"TA5.0.64", F, ErrPointNumber, 1, 5, 0, 64, U},
        Case{"DI5.0.65535.0", D, ErrPointNumber, 5, 5, 0, -1, 0}));

TEST(Pxr5760ParseItemCode, SuccessClearsAPendingCode) {
  CPxr5760 driver;
  IoItem item{};
  item.DataType = kDataTypeFloat;
  ASSERT_EQ(driver.ParseItem("TA5.9.0", &item), 0);
  ASSERT_EQ(driver.ParseItem("TA5.1.0", &item), 1);
  EXPECT_EQ(driver.ErrorCode(), ErrOk);
}

TEST(ParsePointAddress3, ReadsThreeDottedNumbers) {
  const struct {
    const char* text;
    bool parsed;
    int16_t first, second, third;
  } cases[] = {
      {"X.1.2.3", true, 1, 2, 3},         {"...", true, 0, 0, 0},
      {".10.20.30.40", true, 10, 20, 30}, {"A5.70000.2.3", true, 70000 - 65536, 2, 3},
      {"A5.1.2.", true, 1, 2, 0},         {"A5.1.2", false, -1, -1, -1},
      {"A5.1", false, -1, -1, -1},        {"A5.", false, -1, -1, -1},
      {"A5", false, -1, -1, -1},          {"", false, -1, -1, -1},
  };
  for (const auto& c : cases) {
    int16_t first = -1, second = -1, third = -1;
    EXPECT_EQ(ParsePointAddress3(c.text, &first, &second, &third), c.parsed) << c.text;
    EXPECT_EQ(first, c.first) << c.text;
    EXPECT_EQ(second, c.second) << c.text;
    EXPECT_EQ(third, c.third) << c.text;
  }
}

}  // namespace
}  // namespace tarvo
