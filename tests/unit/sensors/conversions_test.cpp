// Raw sensor bytes to values: every branch and its boundaries, the bytes each
// conversion ignores, and the markers that reject a record.
#include "sensors/conversions.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <ostream>

#include "gtest/gtest.h"

namespace tarvo::sensors {
namespace {

using Conversion = bool (*)(const uint8_t*, float*);

constexpr float kUntouched = -12345.5f;  // must survive a rejection
constexpr float kExact = 0.0f;           // tolerance: compare exactly, sign of zero included

struct Case {
  const char* name;
  Conversion convert;
  std::array<uint8_t, 4> raw;  // b0, b1, b2, b3
  bool produced;
  float value;
  float tolerance;
};

void PrintTo(const Case& c, std::ostream* os) {
  char bytes[32];
  std::snprintf(bytes, sizeof bytes, " %02X %02X %02X %02X", c.raw[0], c.raw[1], c.raw[2],
                c.raw[3]);
  *os << c.name << bytes;
}

#define CONV(f) #f, f
Case Value(const char* name, Conversion f, std::array<uint8_t, 4> raw, float value,
           float tolerance = kExact) {
  return {name, f, raw, true, value, tolerance};
}
Case Rejected(const char* name, Conversion f, std::array<uint8_t, 4> raw) {
  return {name, f, raw, false, 0.0f, kExact};
}

class Convert : public ::testing::TestWithParam<Case> {};

TEST_P(Convert, GivesTheValueOrRejects) {
  const Case& c = GetParam();
  float out = kUntouched;
  ASSERT_EQ(c.convert(c.raw.data(), &out), c.produced);
  if (!c.produced) {
    EXPECT_EQ(out, kUntouched);
  } else if (c.tolerance == kExact) {
    EXPECT_EQ(out, c.value);
    EXPECT_EQ(std::signbit(out), std::signbit(c.value)) << "sign of zero";
  } else {
    EXPECT_NEAR(out, c.value, c.tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(TempExtended, Convert,
                         ::testing::Values(
                             // Sign byte 0x00: half degrees, refined by (b3 - b2) / b3 - 0.25.
                             Value(CONV(ConvertTempExtended), {50, 0x00, 12, 16}, 25.0f),
                             Value(CONV(ConvertTempExtended), {50, 0x00, 12, 0}, 25.0f),
                             Value(CONV(ConvertTempExtended), {51, 0x00, 0, 0}, 25.5f),
                             Value(CONV(ConvertTempExtended), {50, 0x00, 5, 16}, 25.4375f),
                             Value(CONV(ConvertTempExtended), {0, 0x00, 16, 16}, -0.25f),
                             Value(CONV(ConvertTempExtended), {255, 0x00, 0, 0}, 127.5f),
                             // b2 above b3: the count difference is signed.
                             Value(CONV(ConvertTempExtended), {50, 0x00, 20, 16}, 24.5f),
                             Value(CONV(ConvertTempExtended), {50, 0x00, 1, 3}, 25.416666f, 1e-5f),
                             // Sign byte 0xFF: the fraction is subtracted.
                             Value(CONV(ConvertTempExtended), {206, 0xFF, 12, 16}, -25.5f),
                             Value(CONV(ConvertTempExtended), {206, 0xFF, 12, 0}, -25.0f),
                             Value(CONV(ConvertTempExtended), {206, 0xFF, 20, 16}, -25.0f),
                             Value(CONV(ConvertTempExtended), {0, 0xFF, 0, 0}, -128.0f),
                             Value(CONV(ConvertTempExtended), {255, 0xFF, 0, 0}, -0.5f),
                             // Any other sign byte: the marker value, never a rejection.
                             Value(CONV(ConvertTempExtended), {50, 0x12, 12, 16}, 0.1f),
                             Value(CONV(ConvertTempExtended), {50, 0x01, 12, 16}, 0.1f),
                             Value(CONV(ConvertTempExtended), {50, 0xFE, 0xFE, 0xFE}, 0.1f)));

INSTANTIATE_TEST_SUITE_P(
    Temp12, Convert,
    ::testing::Values(Value(CONV(ConvertTemp12), {0x91, 0x01, 0, 0}, 25.0625f),
                      Value(CONV(ConvertTemp12), {0x5E, 0xFF, 0, 0}, -10.125f),
                      Value(CONV(ConvertTemp12), {0x00, 0x00, 0, 0}, 0.0f),
                      // The ends of each branch of b1: 0x00..0x07 and 0xF8..0xFF.
                      Value(CONV(ConvertTemp12), {0xFF, 0x07, 0, 0}, 127.9375f),
                      Value(CONV(ConvertTemp12), {0x00, 0xF8, 0, 0}, -128.0f),
                      Value(CONV(ConvertTemp12), {0xFF, 0xFF, 0, 0}, -0.0625f),
                      Value(CONV(ConvertTemp12), {0x00, 0x08, 0, 0}, 0.1f),
                      Value(CONV(ConvertTemp12), {0xFF, 0xF7, 0, 0}, 0.1f),
                      Value(CONV(ConvertTemp12), {0x00, 0x80, 0, 0}, 0.1f),
                      // b2 and b3 play no part, markers included.
                      Value(CONV(ConvertTemp12), {0x91, 0x01, 0xFE, 0xFE}, 25.0625f)));

INSTANTIATE_TEST_SUITE_P(
    TempSixteenths, Convert,
    ::testing::Values(Value(CONV(ConvertTempSixteenths), {0x80, 25, 0, 0}, 25.5f),
                      Value(CONV(ConvertTempSixteenths), {0x8F, 25, 0, 0},
                            25.5f),  // low half of b0 ignored
                      Value(CONV(ConvertTempSixteenths), {0xF0, 0x7F, 0, 0}, 127.9375f),
                      Value(CONV(ConvertTempSixteenths), {0x00, 0x00, 0, 0}, 0.0f),
                      Value(CONV(ConvertTempSixteenths), {0x80, 0xFE, 0, 0}, -1.5f),
                      Value(CONV(ConvertTempSixteenths), {0xF0, 0xFF, 0, 0}, -0.0625f),
                      Value(CONV(ConvertTempSixteenths), {0x10, 0xFF, 0, 0}, -0.9375f),
                      // A whole negative degree keeps the carry of its zero sixteenths: the
                      // readings stay in order across -1.0 and -2.0.
                      Value(CONV(ConvertTempSixteenths), {0x00, 0xFF, 0, 0}, -1.0f),
                      Value(CONV(ConvertTempSixteenths), {0xF0, 0xFE, 0, 0}, -1.0625f),
                      Value(CONV(ConvertTempSixteenths), {0x00, 0xFE, 0, 0}, -2.0f),
                      Value(CONV(ConvertTempSixteenths), {0x00, 0x80, 0, 0}, -128.0f),
                      Rejected(CONV(ConvertTempSixteenths), {0x80, 25, 0xFE, 0}),
                      Value(CONV(ConvertTempSixteenths), {0x80, 25, 0xFF, 0xFE}, 25.5f)));

INSTANTIATE_TEST_SUITE_P(
    Humidity, Convert,
    ::testing::Values(Value(CONV(ConvertHumidity), {0, 0, 100, 128}, 46.7292f, 1e-4f),
                      Value(CONV(ConvertHumidity), {0, 0, 0, 0}, 20.6610f, 1e-4f),
                      Value(CONV(ConvertHumidity), {0, 0, 0, 255}, 0.0f),   // about -9.68
                      Value(CONV(ConvertHumidity), {0, 0, 21, 229}, 0.0f),  // about -0.00037
                      Value(CONV(ConvertHumidity), {0, 0, 17, 212}, 0.000308f, 1e-6f),
                      Value(CONV(ConvertHumidity), {0, 0, 198, 101}, 99.99623f, 1e-4f),
                      // No byte pair lands on 100 exactly; the nearest above it clamps.
                      Value(CONV(ConvertHumidity), {0, 0, 137, 15}, 100.0f),  // about 100.00036
                      Value(CONV(ConvertHumidity), {0, 0, 255, 0}, 100.0f),   // about 180.8
                      Rejected(CONV(ConvertHumidity), {0, 0, 100, 0xFE}),
                      Value(CONV(ConvertHumidity), {0xFF, 0xFF, 0xFE, 0}, 100.0f),
                      Value(CONV(ConvertHumidity), {0, 0, 0, 0xFF}, 0.0f)));

INSTANTIATE_TEST_SUITE_P(
    TempSignMagnitude, Convert,
    ::testing::Values(Value(CONV(ConvertTempSignMagnitude), {0, 0, 0x91, 0x01}, 25.0625f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0x91, 0x09}, -25.0625f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0x91, 0xF1}, 25.0625f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0x91, 0xF9}, -25.0625f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0xFF, 0x07}, 127.9375f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0xFF, 0x0F}, -127.9375f),
                      Value(CONV(ConvertTempSignMagnitude), {0, 0, 0x00, 0x08}, -0.0f),
                      Value(CONV(ConvertTempSignMagnitude), {0xFF, 0xFF, 0x91, 0x01}, 25.0625f),
                      Rejected(CONV(ConvertTempSignMagnitudeChecked), {0, 0xFF, 0x91, 0x01}),
                      Value(CONV(ConvertTempSignMagnitudeChecked), {0xFF, 0xFE, 0x91, 0x01},
                            25.0625f),
                      Value(CONV(ConvertTempSignMagnitudeChecked), {0, 0, 0x91, 0xF9}, -25.0625f)));

INSTANTIATE_TEST_SUITE_P(
    HalvesAndHundredths, Convert,
    ::testing::Values(Value(CONV(ConvertHalves), {0xFF, 0xFF, 51, 0xFF}, 25.5f),
                      Value(CONV(ConvertHalves), {0, 0, 255, 0}, 127.5f),
                      Value(CONV(ConvertHalves), {0, 0, 0, 0}, 0.0f),
                      Rejected(CONV(ConvertHalvesChecked), {51, 0xFF, 51, 51}),
                      Value(CONV(ConvertHalvesChecked), {0xFF, 51, 0xFF, 0xFF}, 25.5f),
                      Value(CONV(ConvertHalvesChecked), {0, 0xFE, 0, 0}, 127.0f),
                      Value(CONV(ConvertHundredths), {0xFF, 0xFF, 0xC4, 0x09}, 25.0f),
                      Value(CONV(ConvertHundredths), {0, 0, 0xFF, 0xFF}, 655.35f),
                      Value(CONV(ConvertHundredths), {0, 0, 0x09, 0xC4}, 501.85f),
                      Value(CONV(ConvertHundredths), {0, 0, 0, 0}, 0.0f)));

TEST(TestBit, TakesBitNModulo8OfTheLowByte) {
  struct BitCase {
    uint32_t value;
    int n;
    int bit;
  } cases[] = {
      {0x80, 7, 1},       {0x80, 6, 0},       {0x08, 3, 1},  {0x08, 11, 1},
      {0x08, 2, 0},       {0x01, 0, 1},       {0x01, 8, 1},  {0x100, 0, 0},
      {0x100, 8, 0},      {0xFFFFFF00, 5, 0}, {0x80, -1, 1}, {0x01, -8, 1},
      {0x01, INT_MIN, 1}, {0x80, INT_MAX, 1}, {0xFF, 31, 1}, {0x7F, 31, 0},
  };
  for (const BitCase& c : cases) {
    EXPECT_EQ(TestBit(c.value, c.n), c.bit)
        << std::hex << "value 0x" << c.value << std::dec << " n " << c.n;
  }
}

}  // namespace
}  // namespace tarvo::sensors
