// Item addresses of the pxr5700 family: accepted forms, the order of the
// checks, the fields a failure leaves written; and the register table.
#include <string>

#include "gtest/gtest.h"
#include "pxr5700/pxr5700.h"

namespace tarvo {
namespace {

constexpr int16_t kUnset = -7;  // marks fields ParseItem must not write
constexpr int16_t D = kDataTypeDiscrete;
constexpr int16_t F = kDataTypeFloat;

struct Case {
  const char* address;
  int16_t dataType;
  int32_t result;
  DriverError code;
  // Fields after the call; kUnset where ParseItem must not have written.
  int16_t registerIndex;
  int32_t module;
  int16_t channel;
};

class Pxr5700ParseItem : public ::testing::TestWithParam<Case> {};

TEST_P(Pxr5700ParseItem, FillsTheItem) {
  const Case& c = GetParam();
  Cpxr5700 driver;
  IoItem item{};
  item.RegisterIndex = kUnset;
  item.ModuleAddress = kUnset;
  item.Channel = kUnset;
  item.Point = kUnset;
  item.SubIndex = kUnset;
  item.DataType = c.dataType;
  EXPECT_EQ(driver.ParseItem(c.address, &item), c.result);
  EXPECT_EQ(driver.ErrorCode(), c.code);
  EXPECT_EQ(item.RegisterIndex, c.registerIndex);
  EXPECT_EQ(item.ModuleAddress, c.module);
  EXPECT_EQ(item.Channel, c.channel);
  EXPECT_EQ(item.Point, kUnset);
  EXPECT_EQ(item.SubIndex, kUnset);
  EXPECT_EQ(item.DataType, c.dataType);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, Pxr5700ParseItem,
    ::testing::Values(
        // Registers in table order, counted from 0, any case.
        Case{"DI5.3", D, 1, ErrOk, 0, 5, 3}, Case{"di5.3", D, 1, ErrOk, 0, 5, 3},
        Case{"do12.0", D, 1, ErrOk, 1, 12, 0}, Case{"TA7.2", F, 1, ErrOk, 2, 7, 2},
        Case{"tB3.2", F, 1, ErrOk, 3, 3, 2}, Case{"WI127.1", F, 1, ErrOk, 4, 127, 1},
        // Up to four module digits; text up to the "." and behind the channel ignored.
        Case{"DI0127.1", D, 1, ErrOk, 0, 127, 1}, Case{"DI0000.7", D, 1, ErrOk, 0, 0, 7},
        Case{"DI5x.3", D, 1, ErrOk, 0, 5, 3}, Case{"DI5.07", D, 1, ErrOk, 0, 5, 7},
        Case{"DI5.3x.9", D, 1, ErrOk, 0, 5, 3}, Case{"DI5 .3", D, 1, ErrOk, 0, 5, 3},
        // No digit behind the first ".": channel 0, valid only where 0 is a channel.
        Case{"DI5.", D, 1, ErrOk, 0, 5, 0}, Case{"DO5.x", D, 1, ErrOk, 1, 5, 0},
        Case{"TA5.", F, 0, ErrChannelNumber, 2, 0, 0},
        // The channel is the low 16 bits of a digit run of any length.
        Case{"DI5.65539", D, 1, ErrOk, 0, 5, 3},
        Case{"DI5.0000000000000000000000000000000000000000000000000000000006", D, 1, ErrOk, 0, 5,
             6},
        Case{"DI5.65535", D, 0, ErrChannelNumber, 0, 0, 0},
        // Register name first: nothing but the two cleared fields is written.
        Case{"XX5.3", D, 0, ErrRegisterUnsupported, kUnset, 0, 0},
        Case{"D", D, 0, ErrRegisterUnsupported, kUnset, 0, 0},
        Case{"", F, 0, ErrRegisterUnsupported, kUnset, 0, 0},
        // Data type next; the register index stays written from here on.
        Case{"DI5.3", F, 0, ErrDataType, 0, 0, 0}, Case{"TA5.1", D, 0, ErrDataType, 2, 0, 0},
        Case{"WI5.1", 0, 0, ErrDataType, 4, 0, 0},
        // Module digits right behind the letters.
        Case{"DI.3", D, 0, ErrDigitsExpected, 0, 0, 0},
        Case{"DI", D, 0, ErrDigitsExpected, 0, 0, 0},
        Case{"DI 5.3", D, 0, ErrDigitsExpected, 0, 0, 0},
        Case{"DI128.0", D, 0, ErrRegisterUnsupported, 0, 0, 0},
        Case{"DI12345.1", D, 0, ErrRegisterUnsupported, 0, 0, 0},  // 1234
        Case{"DI9999", D, 0, ErrRegisterUnsupported, 0, 0, 0},
        // Then the ".".
        Case{"DI5", D, 0, ErrDigitsExpected, 0, 0, 0},
        // Channel ranges: 0..7 for DI and DO, 1..2 for the others.
        Case{"DO3.8", D, 0, ErrChannelNumber, 1, 0, 0},
        Case{"DI3.8", D, 0, ErrChannelNumber, 0, 0, 0},
        Case{"TA3.0", F, 0, ErrChannelNumber, 2, 0, 0},
        Case{"TB3.3", F, 0, ErrChannelNumber, 3, 0, 0},
        Case{"WI3.3", F, 0, ErrChannelNumber, 4, 0, 0}, Case{"TB3.2", F, 1, ErrOk, 3, 3, 2}));

TEST(Pxr5700ParseItemCode, SuccessClearsAPendingCode) {
  Cpxr5700 driver;
  IoItem item{};
  item.DataType = kDataTypeDiscrete;
  ASSERT_EQ(driver.ParseItem("DI5.8", &item), 0);
  ASSERT_EQ(driver.ParseItem("DI5.7", &item), 1);
  EXPECT_EQ(driver.ErrorCode(), ErrOk);
}

TEST(Pxr5700Registers, FiveEntriesAndATimeOutBeforeAnyOpen) {
  Cpxr5700 driver;
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver.GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 5);
  struct Expected {
    const char* name;
    int32_t access, type;
  };
  const Expected expected[] = {{"DI", kAccessRead, D},
                               {"DO", kAccessReadWrite, D},
                               {"TA", kAccessRead, F},
                               {"TB", kAccessRead, F},
                               {"WI", kAccessRead, F}};
  for (int i = 0; i < count; ++i) {
    EXPECT_STREQ(table[i].Name, expected[i].name);
    EXPECT_EQ(table[i].Access, expected[i].access) << i;
    EXPECT_EQ(table[i].DataType1, expected[i].type) << i;
    EXPECT_EQ(table[i].DataType2, expected[i].type) << i;
  }
  EXPECT_EQ(driver.Port().Timeout(), 200);
}

}  // namespace
}  // namespace tarvo
