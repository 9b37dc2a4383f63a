// Item addresses of the pxr5100 family: accepted forms, the order of the
// checks, and which fields a failure leaves written.
#include <string>

#include "gtest/gtest.h"
#include "pxr5100/pxr5100.h"

namespace tarvo {
namespace {

constexpr int16_t kUnset = -7;  // marks fields ParseItem must not write

struct Case {
  const char* address;
  int16_t dataType;
  int32_t result;
  DriverError code;
  // Fields after the call; kUnset where ParseItem must not have written.
  int16_t registerIndex;
  int32_t module;
  int16_t channel;
  int16_t point;
};

class Pxr5100ParseItem : public ::testing::TestWithParam<Case> {};

TEST_P(Pxr5100ParseItem, FillsTheItem) {
  const Case& c = GetParam();
  Cpxr5100 driver;
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
  EXPECT_EQ(item.Point, c.point);
  EXPECT_EQ(item.SubIndex, kUnset);
  EXPECT_EQ(item.DataType, c.dataType);
}

constexpr int16_t F = kDataTypeFloat;

INSTANTIATE_TEST_SUITE_P(
    Addresses, Pxr5100ParseItem,
    ::testing::Values(
        Case{"TA5.1.2", F, 1, ErrOk, 1, 5, 1, 2}, Case{"ta5.1.2", F, 1, ErrOk, 1, 5, 1, 2},
        Case{"tB5.1.2", F, 1, ErrOk, 2, 5, 1, 2}, Case{"WA0.0.0", F, 1, ErrOk, 3, 0, 0, 0},
        Case{"wb1.2.3", F, 1, ErrOk, 4, 1, 2, 3}, Case{"UA9.7.63", F, 1, ErrOk, 5, 9, 7, 63},
        Case{"Ub10.6.5", F, 1, ErrOk, 6, 10, 6, 5}, Case{"WM127.7.63", F, 1, ErrOk, 7, 127, 7, 63},
        // Only three module digits count; anything before the first point is ignored.
        Case{"TA1234.1.2", F, 1, ErrOk, 1, 123, 1, 2}, Case{"TA5x.1.2", F, 1, ErrOk, 1, 5, 1, 2},
        Case{"TA007.1.2", F, 1, ErrOk, 1, 7, 1, 2},
        // Missing numbers behind a point read as 0; text behind numbers is ignored.
        Case{"TA5..2", F, 1, ErrOk, 1, 5, 0, 2}, Case{"TA5.3.", F, 1, ErrOk, 1, 5, 3, 0},
        Case{"TA5.1x.2y", F, 1, ErrOk, 1, 5, 1, 2},
        // Numbers are taken modulo 2^16, however long the digit run.
        Case{"TA5.65537.1", F, 1, ErrOk, 1, 5, 1, 1},
        Case{"TA5.1.000000000000000000000000000000000000000002", F, 1, ErrOk, 1, 5, 1, 2},
        Case{"TA5.1.99999999999999999999999999999999999999", F, 0, ErrPointNumber, 1, 5, 1,
             static_cast<int16_t>(0xFFFF)},  // low 16 bits of the run: -1
        Case{"TA5.65535.1", F, 0, ErrChannel, 1, 5, -1, 1},
        // Register name: compared first, case-insensitively, two characters.
        Case{"TX5.1.2", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        Case{"T", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        Case{"", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        Case{"TX5.1.2", kDataTypeDiscrete, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset,
             kUnset},
        // Data type: checked before anything is written.
        Case{"TA5.1.2", kDataTypeDiscrete, 0, ErrDataType, kUnset, kUnset, kUnset, kUnset},
        Case{"TA5.1.2", 0, 0, ErrDataType, kUnset, kUnset, kUnset, kUnset},
        // No module digit right behind the name.
        Case{"TA.1.2", F, 0, ErrRegisterUnsupported, 1, kUnset, kUnset, kUnset},
        Case{"TA", F, 0, ErrRegisterUnsupported, 1, kUnset, kUnset, kUnset},
        Case{"TA 5.1.2", F, 0, ErrRegisterUnsupported, 1, kUnset, kUnset, kUnset},
        // Dotted part missing or incomplete.
        Case{"TA5", F, 0, ErrRegisterName, 1, 5, kUnset, kUnset},
        Case{"TA5.1", F, 0, ErrRegisterName, 1, 5, kUnset, kUnset},
        Case{"TA5.", F, 0, ErrRegisterName, 1, 5, kUnset, kUnset},
        // Ranges, checked module, channel, point; the fields stay written.
        Case{"WM128.7.63", F, 0, ErrModuleAddress, 7, 128, 7, 63},
        Case{"TA999.9.99", F, 0, ErrModuleAddress, 1, 999, 9, 99},
        Case{"TA5.8.0", F, 0, ErrChannel, 1, 5, 8, 0},
        Case{"TA5.8.64", F, 0, ErrChannel, 1, 5, 8, 64},
        Case{"TA5.0.64", F, 0, ErrPointNumber, 1, 5, 0, 64}));

TEST(Pxr5100ParseItemCode, SuccessClearsAPendingCode) {
  Cpxr5100 driver;
  IoItem item{};
  item.DataType = kDataTypeFloat;
  ASSERT_EQ(driver.ParseItem("TA5.9.0", &item), 0);
  ASSERT_EQ(driver.ParseItem("TA5.1.0", &item), 1);
  EXPECT_EQ(driver.ErrorCode(), ErrOk);
}

}  // namespace
}  // namespace tarvo
