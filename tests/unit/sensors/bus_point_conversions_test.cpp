// Bus point records to register values: signs, ignored bits, full scale.
#include "sensors/bus_point_conversions.h"

#include <cmath>
#include <cstdint>

#include "gtest/gtest.h"

namespace tarvo::sensors {
namespace {

struct FloatCase {
  float (*convert)(const uint8_t*);
  uint8_t raw[4];  // b0, b1, b2, b3
  float value;
};

TEST(BusPointConversions, GiveExactValues) {
  const FloatCase cases[] = {
      // Temperature: magnitude in b3:b2, sign in bit 3 of b3; the fault bit
      // 0x10 of b3 and b0, b1 play no part.
      {BusPointTemperature, {0, 0, 0x91, 0x01}, 25.0625f},
      {BusPointTemperature, {0, 0, 0x91, 0x09}, -25.0625f},
      {BusPointTemperature, {0xFF, 0xFF, 0x91, 0x11}, 25.0625f},
      {BusPointTemperature, {0, 0, 0x91, 0xF9}, -25.0625f},
      {BusPointTemperature, {0, 0, 0xFF, 0x0F}, -127.9375f},
      {BusPointTemperature, {0, 0, 0x00, 0x00}, 0.0f},
      {BusPointTemperature, {0, 0, 0x00, 0x08}, -0.0f},
      // Halves: b1 is signed.
      {BusPointHalves, {0, 0xF0, 0, 0}, -8.0f},
      {BusPointHalves, {0, 0x7F, 0, 0}, 63.5f},
      {BusPointHalves, {0, 0x80, 0, 0}, -64.0f},
      {BusPointHalves, {0, 0xFF, 0xFF, 0xFF}, -0.5f},
      {BusPointHalves, {0xFF, 0x00, 0xFF, 0xFF}, 0.0f},
      // Quarters: the upper half of b2 is ignored.
      {BusPointKt, {0, 0x10, 0x01, 0}, 68.0f},
      {BusPointKt, {0, 0x10, 0xF1, 0xFF}, 68.0f},
      {BusPointKt, {0, 0xFF, 0x0F, 0}, 1023.75f},
      {BusPointKt, {0, 0x00, 0xF0, 0}, 0.0f},
      // Analog: 1023 counts are 5.0 whatever the sub-channel bits of b2 say.
      {BusPointAnalog, {0, 0xFF, 0x03, 0}, 5.0f},
      {BusPointAnalog, {0, 0xFF, 0xE3, 0}, 5.0f},
      {BusPointAnalog, {0, 0xFF, 0xFF, 0xFF}, 5.0f},
      {BusPointAnalog, {0xFF, 0x00, 0xFC, 0xFF}, 0.0f},
  };
  for (const FloatCase& c : cases) {
    const float value = c.convert(c.raw);
    SCOPED_TRACE(::testing::Message() << std::hex << int{c.raw[0]} << ' ' << int{c.raw[1]} << ' '
                                      << int{c.raw[2]} << ' ' << int{c.raw[3]});
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << "sign of zero";
  }
}

TEST(BusPointConversions, AnalogScalesByFiveOver1023) {
  const uint8_t half_scale[4] = {0, 0x00, 0x02, 0};  // 512 counts
  const uint8_t one_count[4] = {0, 0x01, 0x00, 0};
  EXPECT_FLOAT_EQ(BusPointAnalog(half_scale), 2.5024438f);
  EXPECT_FLOAT_EQ(BusPointAnalog(one_count), 0.0048875855f);
}

TEST(BusPointConversions, InputBitsComeFromB1AndOutputBitsFromB2) {
  const uint8_t in_only[4] = {0xFF, 0x08, 0x00, 0xFF};
  const uint8_t out_only[4] = {0xFF, 0x00, 0x08, 0xFF};
  const uint8_t high[4] = {0, 0x80, 0x01, 0};
  EXPECT_EQ(BusPointInputBit(in_only, 3), 1);
  EXPECT_EQ(BusPointOutputBit(in_only, 3), 0);
  EXPECT_EQ(BusPointInputBit(out_only, 3), 0);
  EXPECT_EQ(BusPointOutputBit(out_only, 3), 1);
  EXPECT_EQ(BusPointInputBit(in_only, 2), 0);
  EXPECT_EQ(BusPointInputBit(high, 7), 1);
  EXPECT_EQ(BusPointInputBit(high, 0), 0);
  EXPECT_EQ(BusPointOutputBit(high, 0), 1);
  EXPECT_EQ(BusPointOutputBit(high, 7), 0);
}

}  // namespace
}  // namespace tarvo::sensors
