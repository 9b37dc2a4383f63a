// Engineering values encoded into pxr5100 records: exact bytes for known
// readings, and round trips through decoders written from the record
// formats the drivers read.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "gtest/gtest.h"
#include "sensors/conversions.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

// Decoders of the seven kinds, as a driver reads the record.
double DecodeTa(const RawRecord& r) {
  const int b0 = r[0], b2 = r[2], b3 = r[3];
  const double fraction = b3 != 0 ? static_cast<double>(b3 - b2) / b3 : 0.0;
  if (r[1] == 0x00) return b3 != 0 ? fraction + (b0 * 0.5 - 0.25) : b0 * 0.5;
  if (r[1] == 0xFF) {
    const double t = (256 - b0) * -0.5;
    return b3 != 0 ? (t - 0.25) - fraction : t;
  }
  return 0.1;
}
double DecodeTb(const RawRecord& r) {
  if ((r[1] >> 3) == 0) return ((r[1] & 7) * 256 + r[0]) * 0.0625;
  if ((r[1] >> 3) == 31) return ((r[1] - 256) * 256 + r[0]) * 0.0625;
  return 0.1;
}
double DecodeWa(const RawRecord& r) {  // NaN: rejected
  float value = 0;
  return sensors::ConvertTempSixteenths(r.data(), &value) ? value : NAN;
}
double DecodeWb(const RawRecord& r) {
  if (r[3] == 0xFE) return NAN;
  const double h = ((r[2] + 112.0) / (r[3] + 336.0) - 0.2354) * 210.97046413502107;
  return std::clamp(h, 0.0, 100.0);
}
double DecodeUa(const RawRecord& r) {
  const int x = (r[3] & 7) * 256 + r[2];
  return (r[3] & 0x08) ? x * -0.0625 : x * 0.0625;
}
double DecodeUb(const RawRecord& r) { return r[2] * 0.5; }
double DecodeWm(const RawRecord& r) { return (r[3] * 256 + r[2]) * 0.01; }

struct BytesCase {
  Pxr5100Values values;
  RawRecord record;
};

class Pxr5100KnownRecords : public ::testing::TestWithParam<BytesCase> {};

TEST_P(Pxr5100KnownRecords, EncodeToTheseBytes) {
  EXPECT_EQ(EncodePxr5100(GetParam().values), GetParam().record);
}

INSTANTIATE_TEST_SUITE_P(
    Readings, Pxr5100KnownRecords,
    ::testing::Values(
        BytesCase{{.ta = 25.0}, {50, 0x00, 12, 16}}, BytesCase{{.ta = -25.5}, {206, 0xFF, 12, 16}},
        BytesCase{{.ta = 0.0}, {0, 0x00, 12, 16}}, BytesCase{{.tb = 25.0625}, {0x91, 0x01, 0, 0}},
        BytesCase{{.tb = -10.125}, {0x5E, 0xFF, 0, 0}}, BytesCase{{.wa = 25.5}, {0x80, 25, 0, 0}},
        BytesCase{{.wa = -1.5}, {0x80, 0xFE, 0, 0}}, BytesCase{{.wa = -0.0625}, {0xF0, 0xFF, 0, 0}},
        BytesCase{{.wa = -1.0}, {0x00, 0xFF, 0, 0}}, BytesCase{{.ua = 25.0625}, {0, 0, 0x91, 0x01}},
        BytesCase{{.ua = -25.0625}, {0, 0, 0x91, 0x09}}, BytesCase{{.ub = 25.5}, {0, 0, 51, 0}},
        BytesCase{{.wm = 25.0}, {0, 0, 0xC4, 0x09}}, BytesCase{{.wm = 655.35}, {0, 0, 0xFF, 0xFF}},
        BytesCase{{.tb = 25.0625, .ua = -25.0625}, {0x91, 0x01, 0x91, 0x09}},
        // Clamped to the ends of the formats.
        BytesCase{{.tb = 500.0}, {0xFF, 0x07, 0, 0}}, BytesCase{{.ub = -3.0}, {0, 0, 0, 0}},
        BytesCase{{.wm = 1000.0}, {0, 0, 0xFF, 0xFF}},
        // WA beside a b2 of 0xFE: b2 moves one step so WA stays valid.
        BytesCase{{.wa = 1.0, .ub = 127.0}, {0x00, 0x01, 0xFD, 0}}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

struct RoundTrip {
  const char* kind;
  std::function<Pxr5100Values(double)> values;
  std::function<double(const RawRecord&)> decode;
  double low, high, step, tolerance;
};

class Pxr5100RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(Pxr5100RoundTrips, DecodeToTheValueWithinOneHalfStep) {
  const RoundTrip& c = GetParam();
  for (double v = c.low; v <= c.high; v += c.step) {
    const RawRecord record = EncodePxr5100(c.values(v));
    EXPECT_NEAR(c.decode(record), v, c.tolerance) << c.kind << " " << v;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Pxr5100RoundTrips,
    ::testing::Values(RoundTrip{"TA", [](double v) { return Pxr5100Values{.ta = v}; }, DecodeTa,
                                -129.25, -0.75, 0.01, 1.0 / 32},
                      RoundTrip{"TA", [](double v) { return Pxr5100Values{.ta = v}; }, DecodeTa,
                                -0.25, 128.25, 0.01, 1.0 / 32},
                      RoundTrip{"TB", [](double v) { return Pxr5100Values{.tb = v}; }, DecodeTb,
                                -128, 127.9, 0.01, 1.0 / 32},
                      RoundTrip{"WA", [](double v) { return Pxr5100Values{.wa = v}; }, DecodeWa,
                                -128, 127.9, 0.01, 1.0 / 32},
                      RoundTrip{"UA", [](double v) { return Pxr5100Values{.ua = v}; }, DecodeUa,
                                -127.9, 127.9, 0.01, 1.0 / 32},
                      RoundTrip{"UB", [](double v) { return Pxr5100Values{.ub = v}; }, DecodeUb, 0,
                                127.5, 0.01, 0.25},
                      RoundTrip{"WM", [](double v) { return Pxr5100Values{.wm = v}; }, DecodeWm, 0,
                                655.35, 0.001, 0.0051},
                      RoundTrip{"WB", [](double v) { return Pxr5100Values{.wb = v}; }, DecodeWb, 0,
                                100, 0.01, 0.09}),
    [](const auto& info) { return info.param.kind + std::to_string(info.index); });

TEST(Pxr5100Encode, KindsOnSeparateBytesShareOneRecord) {
  for (double v = -100; v <= 100; v += 0.1) {
    const RawRecord twoTemperatures = EncodePxr5100({.tb = v, .ua = -v});
    EXPECT_NEAR(DecodeTb(twoTemperatures), v, 1.0 / 32) << v;
    EXPECT_NEAR(DecodeUa(twoTemperatures), -v, 1.0 / 32) << v;
    const RawRecord climate = EncodePxr5100({.wa = v, .wb = (v + 100) / 2});
    EXPECT_NEAR(DecodeWa(climate), v, 1.0 / 32) << v;
    EXPECT_NEAR(DecodeWb(climate), (v + 100) / 2, 0.09) << v;
    const RawRecord counter = EncodePxr5100({.tb = v, .wm = v + 100});
    EXPECT_NEAR(DecodeTb(counter), v, 1.0 / 32) << v;
    EXPECT_NEAR(DecodeWm(counter), v + 100, 0.0051) << v;
  }
}

TEST(Pxr5100Encode, TemperaturesInTheExtendedFormatsGapGoToItsNearerEnd) {
  EXPECT_DOUBLE_EQ(DecodeTa(EncodePxr5100({.ta = -0.4})), -0.25);
  EXPECT_DOUBLE_EQ(DecodeTa(EncodePxr5100({.ta = -0.6})), -0.75);
}

TEST(Pxr5100Encode, HumidityNeverCarriesTheInvalidMarkers) {
  for (double h = 0; h <= 100; h += 0.05) {
    const RawRecord r = EncodePxr5100({.wb = h});
    ASSERT_NE(r[2], 0xFE) << h;
    ASSERT_NE(r[3], 0xFE) << h;
  }
}

TEST(Pxr5100Encode, RefusesKindsThatShareBytesAndValuesThatAreNotFinite) {
  EXPECT_THROW(EncodePxr5100({.ta = 1, .ub = 2}), std::invalid_argument);
  EXPECT_THROW(EncodePxr5100({.tb = 1, .wa = 2}), std::invalid_argument);
  EXPECT_THROW(EncodePxr5100({.wb = 1, .wm = 2}), std::invalid_argument);
  EXPECT_THROW(EncodePxr5100({.ua = 1, .ub = 2}), std::invalid_argument);
  EXPECT_THROW(EncodePxr5100({.tb = NAN}), std::invalid_argument);
  EXPECT_THROW(EncodePxr5100({.wb = INFINITY}), std::invalid_argument);
}

}  // namespace
}  // namespace tarvo::sim
