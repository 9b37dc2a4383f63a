// Item addresses of both sensor-module classes, their register tables, and
// the operations that send nothing.
#include <string>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "pxr530x/pxr5303.h"
#include "pxr530x/pxr530x.h"
#include "sensor_line.h"

namespace tarvo {
namespace {

constexpr int16_t kUnset = -7;  // marks fields ParseItem must not write
constexpr int16_t F = kDataTypeFloat;

enum class Class { k5303, k530x };

struct Case {
  Class cls;
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

template <class Driver>
void Check(const Case& c) {
  Driver driver;
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

class SensorParseItem : public ::testing::TestWithParam<Case> {};

TEST_P(SensorParseItem, FillsTheItem) {
  const Case& c = GetParam();
  if (c.cls == Class::k5303)
    Check<CPxr5303>(c);
  else
    Check<CPxr530x>(c);
}

constexpr Class A = Class::k5303;
constexpr Class X = Class::k530x;

INSTANTIATE_TEST_SUITE_P(
    Addresses, SensorParseItem,
    ::testing::Values(
        // Register names in any case, in table order.
        Case{A, "ta5.0.3", F, 1, ErrOk, 1, 5, 0, 3}, Case{A, "TA5.0.3", F, 1, ErrOk, 1, 5, 0, 3},
        Case{X, "ta5.0.3", F, 1, ErrOk, 1, 5, 0, 3}, Case{A, "tB1.2.15", F, 1, ErrOk, 2, 1, 2, 15},
        Case{X, "Wa0.7.0", F, 1, ErrOk, 3, 0, 7, 0},
        Case{A, "WB127.2.15", F, 1, ErrOk, 4, 127, 2, 15},
        Case{X, "wb127.7.63", F, 1, ErrOk, 4, 127, 7, 63},
        Case{X, "WB127.7.63", F, 1, ErrOk, 4, 127, 7, 63},
        // Only three module digits count; the rest before the first point is ignored.
        Case{A, "TA1234.0.0", F, 1, ErrOk, 1, 123, 0, 0},
        Case{X, "TA1234.0.0", F, 1, ErrOk, 1, 123, 0, 0},
        // Registers of other families, and no register at all.
        Case{A, "TX5.0.3", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        Case{X, "UA5.0.3", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        Case{A, "", F, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset, kUnset},
        // Data type: after the name, before anything is written.
        Case{A, "TA5.0.3", kDataTypeDiscrete, 0, ErrDataType, kUnset, kUnset, kUnset, kUnset},
        Case{X, "TA5.0.3", 0, 0, ErrDataType, kUnset, kUnset, kUnset, kUnset},
        Case{X, "TX5.0.3", kDataTypeDiscrete, 0, ErrRegisterUnsupported, kUnset, kUnset, kUnset,
             kUnset},
        // No module digit: code 1, the register already written.
        Case{A, "TA.0.3", F, 0, ErrRegisterUnsupported, 1, kUnset, kUnset, kUnset},
        Case{X, "WB.0.3", F, 0, ErrRegisterUnsupported, 4, kUnset, kUnset, kUnset},
        // No dotted part.
        Case{A, "TA5", F, 0, ErrRegisterName, 1, 5, kUnset, kUnset},
        Case{X, "TA5.1", F, 0, ErrRegisterName, 1, 5, kUnset, kUnset},
        // Ranges, checked module, channel, point; the fields stay written.
        Case{A, "TA128.0.0", F, 0, ErrModuleAddress, 1, 128, 0, 0},
        Case{X, "TA128.0.0", F, 0, ErrModuleAddress, 1, 128, 0, 0},
        Case{A, "TA5.3.0", F, 0, ErrChannel, 1, 5, 3, 0},
        Case{A, "TA5.0.16", F, 0, ErrPointNumber, 1, 5, 0, 16},
        Case{X, "TA5.8.0", F, 0, ErrChannel, 1, 5, 8, 0},
        Case{X, "TA5.0.64", F, 0, ErrPointNumber, 1, 5, 0, 64},
        Case{X, "TA5.7.16", F, 1, ErrOk, 1, 5, 7, 16},
        Case{A, "TA5.65535.0", F, 0, ErrChannel, 1, 5, -1, 0}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

template <class Driver>
class SensorOperations : public ::testing::Test {};
using Classes = ::testing::Types<CPxr5303, CPxr530x>;
TYPED_TEST_SUITE(SensorOperations, Classes);

TYPED_TEST(SensorOperations, OffersFourReadOnlyFloatRegisters) {
  TypeParam driver;
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver.GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 4);
  const char* names[] = {"TA", "TB", "WA", "WB"};
  for (int i = 0; i < 4; ++i) {
    EXPECT_STREQ(table[i].Name, names[i]);
    EXPECT_EQ(table[i].Access, kAccessRead);
    EXPECT_EQ(table[i].DataType1, kDataTypeFloat);
    EXPECT_EQ(table[i].DataType2, kDataTypeFloat);
  }
}

TYPED_TEST(SensorOperations, ErrorTextIsThatOfTheLastFailureOnce) {
  TypeParam driver;
  IoItem item{};
  item.DataType = kDataTypeFloat;
  ASSERT_EQ(driver.ParseItem("TA5", &item), 0);
  EXPECT_STREQ(driver.GetErrorText(), ErrorText(ErrRegisterName));
  EXPECT_STREQ(driver.GetErrorText(), "OK");
  ASSERT_EQ(driver.ParseItem("TA5.9.0", &item), 0);
  ASSERT_EQ(driver.ParseItem("TA5.1.0", &item), 1);
  EXPECT_STREQ(driver.GetErrorText(), "OK");
}

TYPED_TEST(SensorOperations, WriteItemSendsNothingAndSucceeds) {
  test::SensorLine<TypeParam> line;
  IoItem item{};
  item.DataType = kDataTypeFloat;
  ASSERT_EQ(line.driver().ParseItem("TA5", &item), 0);
  IoValue value{};
  value.DiscreteValue = 1;
  value.AnalogValue = 3.5f;
  EXPECT_EQ(line.driver().WriteItem(&item, &value), 1);
  EXPECT_EQ(line.driver().ErrorCode(), ErrOk);
  EXPECT_EQ(line.WriteCount(), 0u);
  EXPECT_EQ(value.AnalogValue, 3.5f);
}

struct RangeCase {
  int32_t module;
  int16_t channel;
  int16_t point;
  DriverError code;
};

// Items ParseItem would have refused, handed to ReadItem anyway.
TYPED_TEST(SensorOperations, ReadItemRefusesItemsOutsideTheRangesSendingNothing) {
  test::SensorLine<TypeParam> line;
  const int16_t channels = static_cast<int16_t>(TypeParam::kTraits.channels);
  const int16_t points = static_cast<int16_t>(TypeParam::kTraits.points);
  const RangeCase cases[] = {
      {128, 0, 0, ErrModuleAddress},
      {-1, 0, 0, ErrModuleAddress},
      {256 + 5, 0, 0, ErrModuleAddress},
      {5, channels, 0, ErrChannel},
      {5, -1, 0, ErrChannel},
      {5, 0, points, ErrPointNumber},
      {5, 0, -1, ErrPointNumber},
  };
  for (const RangeCase& c : cases) {
    IoItem item{};
    item.RegisterIndex = 1;
    item.ModuleAddress = c.module;
    item.Channel = c.channel;
    item.Point = c.point;
    item.DataType = kDataTypeFloat;
    IoValue value{};
    value.AnalogValue = 7.0f;
    EXPECT_EQ(line.driver().ReadItem(&item, &value), 0);
    EXPECT_EQ(line.driver().ErrorCode(), c.code) << c.module << "." << c.channel << "." << c.point;
    EXPECT_EQ(value.AnalogValue, 7.0f);
  }
  EXPECT_EQ(line.WriteCount(), 0u);
  EXPECT_TRUE(line.clock().sleeps().empty());
}

}  // namespace
}  // namespace tarvo
