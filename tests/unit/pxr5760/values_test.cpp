// The values a pxr5760 point record yields through the read path: every
// register's conversion at its edges, the outlier filters, and the LT and
// AD values of multiplexed sub-channels.
#include <cmath>
#include <string>
#include <vector>

#include "pxr5760/values.h"
#include "unit/pxr5760/driver_fixture.h"

namespace tarvo::test {
namespace {

// An AD record of sub-channel sub with a 10-bit reading, type code 11 and
// check byte.
sim::RawRecord Ad(int sub, int counts) {
  const auto b1 = static_cast<uint8_t>(counts & 0xFF);
  const auto b2 = static_cast<uint8_t>(sub << 5 | counts >> 8);
  return {11, b1, b2, static_cast<uint8_t>(11 + b1 + b2)};
}

// A TA record of value sixteenths / 16 (positive, below 2048).
sim::RawRecord Ta(int sixteenths) {
  return {0, 0, static_cast<uint8_t>(sixteenths & 0xFF), static_cast<uint8_t>(sixteenths >> 8)};
}

float Volts(int counts) { return static_cast<float>(counts * (5.0 / 1023.0)); }

struct Conversion {
  const char* name;
  sim::RawRecord record;
  const char* address;
  float analog;       // expected AnalogValue (float registers)
  uint32_t discrete;  // expected DiscreteValue (DI, DO)
};

class Pxr5760Conversion : public Pxr5760Driver, public ::testing::WithParamInterface<Conversion> {};

TEST_P(Pxr5760Conversion, DeliversTheRegistersValueOfTheRecord) {
  const Conversion& c = GetParam();
  module.SetRecord(3, 17, c.record);
  ScanAndOpenGate();
  const IoItem item = Item(c.address);
  const Outcome out = ReadItem(item);
  ASSERT_EQ(out.result, 1);
  EXPECT_EQ(out.code, ErrOk);
  if (item.DataType == kDataTypeDiscrete) {
    EXPECT_EQ(out.value.DiscreteValue, c.discrete);
    EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  } else {
    EXPECT_EQ(out.value.AnalogValue, c.analog);
    EXPECT_EQ(std::signbit(out.value.AnalogValue), std::signbit(c.analog));
    EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits);
  }
}

constexpr uint32_t kNoBits = kUntouchedBits;
constexpr float kNoAnalog = kUntouchedAnalog;

INSTANTIATE_TEST_SUITE_P(
    Records, Pxr5760Conversion,
    ::testing::Values(
        Conversion{"Ta", {0, 0, 0x91, 0x01}, "TA26.3.17", 25.0625f, kNoBits},
        Conversion{"TaNegative", {0, 0, 0x91, 0x09}, "TA26.3.17", -25.0625f, kNoBits},
        Conversion{"TaHighBitsIgnored", {0xFF, 0xFF, 0x91, 0xF1}, "TA26.3.17", 25.0625f, kNoBits},
        Conversion{"TaNegativeZero", {0, 0, 0x00, 0x08}, "TA26.3.17", -0.0f, kNoBits},
        Conversion{"TaLargest", {0, 0, 0xFF, 0x07}, "TA26.3.17", 127.9375f, kNoBits},
        Conversion{"TaSmallest", {0, 0, 0xFF, 0x0F}, "TA26.3.17", -127.9375f, kNoBits},
        // b2 = 0x91 names sub-channel 4.
        Conversion{"Lt", {3, 0, 0x91, 0x01}, "LT26.3.17.4", 25.0625f, kNoBits},
        Conversion{"LtNegative", {3, 0, 0x91, 0x09}, "LT26.3.17.4", -25.0625f, kNoBits},
        Conversion{"LtSubChannel0", {3, 0, 0x05, 0x08}, "LT26.3.17.0", -0.3125f, kNoBits},
        Conversion{"HbNegative", {0, 0xF0, 0, 0}, "HB26.3.17", -8.0f, kNoBits},
        Conversion{"HbLargest", {0, 0x7F, 0, 0}, "HB26.3.17", 63.5f, kNoBits},
        Conversion{"HbSmallest", {0, 0x80, 0, 0}, "HB26.3.17", -64.0f, kNoBits},
        Conversion{"Kt", {2, 0x10, 0x01, 0x13}, "KT26.3.17", 68.0f, kNoBits},
        Conversion{"KtUpperHalfOfB2Ignored", {2, 0x10, 0xF1, 0x03}, "KT26.3.17", 68.0f, kNoBits},
        Conversion{"KtLargest", {2, 0xFF, 0x0F, 0x10}, "KT26.3.17", 1023.75f, kNoBits},
        Conversion{"AdFullScale", {11, 0xFF, 0x03, 0x0D}, "AD26.3.17.0", 5.0f, kNoBits},
        Conversion{"AdSubChannel7", {11, 0xFF, 0xE3, 0xED}, "AD26.3.17.7", 5.0f, kNoBits},
        Conversion{"AdFaultBitIgnored", {11, 0xFF, 0x13, 0x1D}, "AD26.3.17.0", 5.0f, kNoBits},
        Conversion{"AdMidScale", Ad(2, 512), "AD26.3.17.2", Volts(512), kNoBits},
        Conversion{"AdOneCount", Ad(1, 1), "AD26.3.17.1", Volts(1), kNoBits},
        Conversion{"AdZero", Ad(0, 0), "AD26.3.17.0", 0.0f, kNoBits},
        Conversion{"DiSet", {0, 0x08, 0x00, 0}, "DI26.3.17.3", kNoAnalog, 1},
        Conversion{"DiClear", {0, 0x08, 0xFF, 0}, "DI26.3.17.2", kNoAnalog, 0},
        Conversion{"DiBit7", {0, 0x80, 0x00, 0}, "DI26.3.17.7", kNoAnalog, 1},
        Conversion{"DoReadsB2", {0, 0x08, 0x00, 0}, "DO26.3.17.3", kNoAnalog, 0},
        Conversion{"DoBit7", {0, 0x00, 0x80, 0}, "DO26.3.17.7", kNoAnalog, 1},
        Conversion{"DoBit0", {0, 0xFE, 0x01, 0}, "DO26.3.17.0", kNoAnalog, 1}),
    [](const auto& info) { return std::string(info.param.name); });

using Pxr5760Values = Pxr5760Driver;

class Pxr5760Filter : public Pxr5760Driver {
 protected:
  std::vector<float> Sequence(const std::string& address,
                              const std::vector<sim::RawRecord>& records) {
    module.SetRecord(0, 0, records.front());
    ScanAndOpenGate();
    std::vector<float> delivered;
    for (size_t i = 0; i < records.size(); ++i) {
      module.SetRecord(0, 0, records[i]);
      if (i > 0) clock().Advance(2000);
      const Outcome out = Read(address);
      EXPECT_EQ(out.result, 1) << address << " reading " << i;
      delivered.push_back(out.value.AnalogValue);
    }
    EXPECT_EQ(bus.log().Count("#1a8"), records.size());
    return delivered;
  }
};

TEST_F(Pxr5760Filter, AJumpIsHeldBackThreeTimesAndTakenTheFourth) {
  EXPECT_EQ(Sequence("TA26.0.0", {Ta(320), Ta(496), Ta(496), Ta(496), Ta(496), Ta(496)}),
            (std::vector<float>{20, 20, 20, 20, 31, 31}));
}

TEST_F(Pxr5760Filter, ADifferenceBelowElevenIsTakenAtOnce) {
  // 20 - 30.9375 truncates to -10, and back again to 10.
  EXPECT_EQ(Sequence("TA26.0.0", {Ta(320), Ta(495), Ta(320)}),
            (std::vector<float>{20, 30.9375f, 20}));
}

TEST_F(Pxr5760Filter, HoldBacksCountOverAllJumpsSinceTheLastTakenJump) {
  EXPECT_EQ(Sequence("TA26.0.0", {Ta(320), Ta(560), Ta(336), Ta(640), Ta(640), Ta(640)}),
            (std::vector<float>{20, 20, 21, 21, 21, 40}));
}

TEST_F(Pxr5760Filter, FiltersKtValues) {
  EXPECT_EQ(Sequence("KT26.0.0", {{2, 0x90, 0x01, 0}, {2, 0x20, 0x03, 0}}),
            (std::vector<float>{100, 100}));
}

TEST_F(Pxr5760Filter, FiltersLtValues) {
  // 20.0 and 36.0, both of sub-channel 2 (b2 = 0x40).
  EXPECT_EQ(Sequence("LT26.0.0.2", {{3, 0, 0x40, 0x01}, {3, 0, 0x40, 0x02}}),
            (std::vector<float>{20, 20}));
}

TEST_F(Pxr5760Filter, HalvesAndBitsAreNotFiltered) {
  EXPECT_EQ(Sequence("HB26.0.0", {{0, 0x00, 0, 0}, {0, 0x78, 0, 0}}), (std::vector<float>{0, 60}));
}

TEST_F(Pxr5760Filter, AnalogReadingsNeverJumpFarEnoughToBeHeld) {
  EXPECT_EQ(Sequence("AD26.0.0.0", {Ad(0, 0), Ad(0, 1023), Ad(0, 0)}),
            (std::vector<float>{0, 5, 0}));
}

// A filter with one jump held back since the last taken jump, given a
// reading within the threshold.
struct RejectCase {
  const char* name;
  int16_t reg;
  pxr5760::ExtractMode mode;
  int32_t rejectsAfter;
};

class Pxr5760RejectCount : public ::testing::TestWithParam<RejectCase> {};

TEST_P(Pxr5760RejectCount, OnlyAPendingAnalogReadingEndsARunOfHoldBacks) {
  const RejectCase& c = GetParam();
  pxr5760::PointState point;
  point.record = {0, 0x40, 0x02, 0x00};  // TA and LT 0.125, KT 144, AD 2.815 (sub-channel 0)
  const sensors::OutlierFilter held{1, 1.0f, 1};
  point.ta = point.kt = point.lt[0] = point.ad[0] = held;
  point.kt.last = 140.0f;
  point.fresh.set();
  IoValue value{};
  ASSERT_EQ(pxr5760::ExtractValue(point, c.reg, 0, c.mode, &value),
            pxr5760::ExtractOutcome::kDelivered);
  const sensors::OutlierFilter& filter = c.reg == pxr5760::kTa   ? point.ta
                                         : c.reg == pxr5760::kKt ? point.kt
                                         : c.reg == pxr5760::kLt ? point.lt[0]
                                                                 : point.ad[0];
  EXPECT_EQ(filter.last, value.AnalogValue);
  EXPECT_EQ(filter.rejects, c.rejectsAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, Pxr5760RejectCount,
    ::testing::Values(RejectCase{"AdPending", pxr5760::kAd, pxr5760::ExtractMode::kPending, 0},
                      RejectCase{"AdAfterBlockRead", pxr5760::kAd,
                                 pxr5760::ExtractMode::kAfterBlockRead, 1},
                      RejectCase{"LtPending", pxr5760::kLt, pxr5760::ExtractMode::kPending, 1},
                      RejectCase{"TaPending", pxr5760::kTa, pxr5760::ExtractMode::kPending, 1},
                      RejectCase{"KtPending", pxr5760::kKt, pxr5760::ExtractMode::kPending, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5760Values, AnAnalogSubChannelKeepsItsValueWhileTheModuleSendsAnother) {
  // Point 4 sends sub-channel 5, then 2, then 5 again.
  module.SetRecords(0, 4, {Ad(5, 256), Ad(2, 512), Ad(5, 768)});
  ScanAndOpenGate();
  Outcome out = Read("AD26.0.4.5");
  EXPECT_EQ(out.value.AnalogValue, Volts(256));

  AwaitGate(2000);
  out = Read("AD26.0.4.5");  // the block read brings sub-channel 2
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.code, ErrOk);
  EXPECT_EQ(out.value.AnalogValue, Volts(256));
  EXPECT_EQ(bus.log().Count("#1a8"), 2u);

  out = Read("AD26.0.4.2");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, Volts(512));
  out = Read("AD26.0.4.5");
  EXPECT_EQ(out.code, ErrDelayNotElapsed);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(bus.log().Count("#1a8"), 2u);

  AwaitGate(4000);
  EXPECT_EQ(Read("AD26.0.4.5").value.AnalogValue, Volts(768));
  EXPECT_EQ(bus.log().Count("#1a8"), 3u);
}

TEST_F(Pxr5760Values, ASubChannelThatNeverHadAValueHasNone) {
  // Loop temperatures of sub-channels 2 (20.25) and 5 (42.5625).
  module.SetRecords(0, 4, {{3, 0, 0x44, 0x01}, {3, 0, 0xA9, 0x02}});
  ScanAndOpenGate();
  Outcome out = Read("LT26.0.4.5");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(Read("LT26.0.4.2").value.AnalogValue, 324 / 16.0f);

  AwaitGate(2000);
  out = Read("LT26.0.4.5");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, 681 / 16.0f);
}

}  // namespace
}  // namespace tarvo::test
