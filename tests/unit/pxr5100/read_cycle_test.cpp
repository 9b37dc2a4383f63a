// The pxr5100 read cycle against a simulated module on a fake line, in
// virtual time: discovery, the block read behind the 2-second gate, the
// fresh path, the filters, and every failure with its code.
#include <cstring>
#include <string>
#include <vector>

#include "driver/trace.h"
#include "gtest/gtest.h"
#include "pxr5100/pxr5100.h"
#include "sim/bus.h"
#include "sim/pxr5100/module.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo {
namespace {

using test::FakeOp;

constexpr int64_t kStartMs = 1'000'000;  // any origin: the gate counts whole seconds
constexpr float kUntouched = -999.0f;

// What the class keeps of module 5 on port 1, the line the tests open.
readcycle::ModuleState& Module5() {
  return static_cast<readcycle::ModuleState&>(*Cpxr5100::SharedTables().At(1, 5));
}

class Pxr5100ReadCycle : public ::testing::Test {
 protected:
  void SetUp() override {
    line().SetPeer(bus_.Peer());
    ASSERT_EQ(driver_.OpenPort(&host_.config), 1);
  }

  test::FakeLine& line() { return serial_.line(1); }
  test::FakeClock& clock() { return serial_.clock(); }
  const sim::ExchangeLog& log() const { return bus_.log(); }

  // Parses and reads address; the value is kUntouched unless delivered.
  int32_t Read(const char* address, float* value = nullptr) {
    IoItem item{};
    item.DataType = kDataTypeFloat;
    EXPECT_EQ(driver_.ParseItem(address, &item), 1) << address;
    IoValue record{};
    record.AnalogValue = kUntouched;
    const int32_t result = driver_.ReadItem(&item, &record);
    if (value != nullptr) *value = record.AnalogValue;
    return result;
  }
  // Lets the module's gate open again.
  void NextWindow() { clock().Advance(2000); }
  // Scans module 5 (the first read after construction fails with 23).
  void Discover() {
    ASSERT_EQ(Read("TA5.1.2"), 0);
    ASSERT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
    NextWindow();
  }

  test::FakeSerial serial_{kStartMs};
  sim::Bus bus_;
  sim::Pxr5100Module& module_ = bus_.Emplace<sim::Pxr5100Module>(5);
  Cpxr5100 driver_;  // built after the fake clock is in place
  test::HostPort host_{1, "300"};
};

TEST_F(Pxr5100ReadCycle, FirstReadScansAllChannelsThenWaitsForTheGate) {
  module_.SetValues(1, 2, {.ta = 25.0});
  float value = 0;
  EXPECT_EQ(Read("TA5.1.2", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(log().Commands(), (std::vector<std::string>{"*050\r", "*051\r", "*052\r", "*053\r",
                                                        "*054\r", "*055\r", "*056\r", "*057\r"}));
  // Each channel: a 100 ms settle, then the read's own 100 ms.
  EXPECT_EQ(clock().NowMs(), kStartMs + 8 * 200);
  clock().Advance(399);  // 1.999 s after construction: still closed
  EXPECT_EQ(Read("TA5.1.2"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  clock().Advance(1);
  EXPECT_EQ(Read("TA5.1.2", &value), 1);
  EXPECT_EQ(value, 25.0f);
  EXPECT_EQ(log().Count("*05"), 8u);  // scanned once
  EXPECT_EQ(log().Count("#051\r"), 1u);
}

TEST_F(Pxr5100ReadCycle, OneBlockReadServesEveryKindOfEveryPointOfTheChannel) {
  module_.SetRecord(1, 2, {50, 0x00, 12, 16});
  module_.SetRecord(1, 3, {0x80, 25, 100, 128});
  module_.SetRecord(1, 9, {0, 0, 0xC4, 0x09});
  Discover();
  struct Case {
    const char* address;
    float value;
  };
  const Case cases[] = {
      {"TA5.1.2", 25.0f},    // half degrees refined by the counts
      {"TB5.1.2", 3.125f},   // 12-bit sixteenths of b1:b0 = 0x032
      {"WA5.1.3", 25.5f},    // whole degrees and sixteenths
      {"UB5.1.3", 50.0f},    // b2 in halves
      {"WM5.1.9", 25.0f},    // b3:b2 = 0x09C4 hundredths
      {"UA5.1.9", -28.25f},  // magnitude 0x1C4 sixteenths, bit 3 of b3 = sign
  };
  for (const Case& c : cases) {
    float value = 0;
    EXPECT_EQ(Read(c.address, &value), 1) << c.address;
    EXPECT_EQ(driver_.ErrorCode(), ErrOk);
    EXPECT_EQ(value, c.value) << c.address;
  }
  float humidity = 0;
  EXPECT_EQ(Read("WB5.1.3", &humidity), 1);
  EXPECT_NEAR(humidity, 46.7292, 1e-4);
  EXPECT_EQ(log().Count("#"), 1u);
  // The fresh TA of point 2 was used up: a second read waits for the gate.
  EXPECT_EQ(Read("TA5.1.2"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  EXPECT_EQ(log().Count("#"), 1u);
}

TEST_F(Pxr5100ReadCycle, BlockReadTimingIsTwoSettlesPerAttempt) {
  module_.SetValues(0, 0, {.ta = 1.0});
  Discover();
  const int64_t before = clock().NowMs();
  ASSERT_EQ(Read("TA5.0.0"), 1);
  EXPECT_EQ(clock().NowMs() - before, 600);
}

TEST_F(Pxr5100ReadCycle, SilentModuleCostsThreeAttemptsThenFailsWith22) {
  module_.SetValues(0, 0, {.ta = 1.0});
  Discover();
  module_.SetFaults({.silent = true});
  const int64_t before = clock().NowMs();
  float value = 0;
  EXPECT_EQ(Read("TA5.0.0", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(log().Count("#050\r"), 3u);
  EXPECT_EQ(clock().NowMs() - before, 3 * (300 + 300 + 500));
}

TEST_F(Pxr5100ReadCycle, AnswerInPiecesAfterTheFirstAttemptIsTakenWhole) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  // The first piece arrives during the first attempt's settle; the read
  // takes whatever is there.
  module_.SetFaults({.pieces = 2, .gapMs = 100}, 1);
  float value = 0;
  EXPECT_EQ(Read("TA5.0.0", &value), 1);
  EXPECT_EQ(value, 21.5f);
}

struct AnswerFault {
  const char* name;
  sim::Faults faults;
  DriverError code;
};

class Pxr5100AnswerFaults : public Pxr5100ReadCycle,
                            public ::testing::WithParamInterface<AnswerFault> {};

TEST_P(Pxr5100AnswerFaults, RefuseTheAnswerAndKeepTheRecords) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  module_.SetFaults(GetParam().faults, 1);
  float value = 0;
  EXPECT_EQ(Read("TA5.0.0", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), GetParam().code);
  EXPECT_EQ(value, kUntouched);
  // The fault is gone; the next window reads again.
  NextWindow();
  EXPECT_EQ(Read("TA5.0.0", &value), 1);
  EXPECT_EQ(value, 21.5f);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Pxr5100AnswerFaults,
    ::testing::Values(
        AnswerFault{"WrongHead", {.head = '!'}, ErrReadData},
        AnswerFault{"OtherAddress", {.fromAddress = 6}, ErrReadData},
        AnswerFault{"NoiseInstead", {.noise = {.count = 20, .replaceAnswer = true}}, ErrReadData}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5100ReadCycle, UppercaseDigitsFailWithModuleTen) {
  bus_.Remove(5);
  auto& module = bus_.Emplace<sim::Pxr5100Module>(10);
  module.SetValues(0, 0, {.ta = 3.0});
  EXPECT_EQ(Read("TA10.0.0"), 0);
  EXPECT_EQ(log().Commands().front(), "*0a0\r");
  NextWindow();
  module.SetFaults({.swapAddressCase = true}, 1);
  EXPECT_EQ(Read("TA10.0.0"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(log().Count("#0a0\r"), 1u);
}

TEST_F(Pxr5100ReadCycle, AnswerCutInsideARecordDeliversTheRecordsBeforeIt) {
  module_.SetValues(0, 0, {.ta = 21.5});
  module_.SetValues(0, 1, {.ta = 22.5});
  Discover();
  module_.SetFaults({.truncateTo = 11}, 1);  // head, point 0 and half of point 1
  float value = 0;
  EXPECT_EQ(Read("TA5.0.1", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(Read("TA5.0.0", &value), 1);
  EXPECT_EQ(value, 21.5f);
  EXPECT_EQ(log().Count("#050\r"), 1u);
}

TEST_F(Pxr5100ReadCycle, OverlongAnswerStaysInsideTheBuffer) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  module_.SetFaults({.padding = 3000}, 1);
  float value = 0;
  EXPECT_EQ(Read("TA5.0.0", &value), 1);
  EXPECT_EQ(value, 21.5f);
}

TEST_F(Pxr5100ReadCycle, PointWithoutSensorFailsWith22AfterTheBlockRead) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  float value = 0;
  EXPECT_EQ(Read("TA5.0.7", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(log().Count("#050\r"), 1u);
}

TEST_F(Pxr5100ReadCycle, RejectedRecordClearsOnlyThatKind) {
  module_.SetRecord(0, 0, {0x80, 25, 0xFE, 0x40});
  Discover();
  float value = 0;
  EXPECT_EQ(Read("WA5.0.0", &value), 0);  // b2 = 0xFE marks WA invalid
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(value, kUntouched);
  EXPECT_EQ(Read("WA5.0.0"), 0);  // its flag is gone: needs a new block read
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  EXPECT_EQ(Read("TB5.0.0", &value), 1);  // other kinds are still fresh
  EXPECT_EQ(value, 0.1f);                 // b1 = 25 is no 12-bit sign: the marker
}

TEST_F(Pxr5100ReadCycle, FilterHoldsBackJumpsThreeTimes) {
  const double readings[] = {20.0, 35.0, 35.0, 35.0, 35.0, 36.0};
  const float delivered[] = {20.0f, 20.0f, 20.0f, 20.0f, 35.0f, 36.0f};
  module_.SetValues(0, 0, {.ta = readings[0]});
  Discover();
  for (size_t i = 0; i < std::size(readings); ++i) {
    module_.SetValues(0, 0, {.ta = readings[i]});
    float value = 0;
    ASSERT_EQ(Read("TA5.0.0", &value), 1) << i;
    EXPECT_EQ(value, delivered[i]) << i;
    NextWindow();
  }
}

TEST_F(Pxr5100ReadCycle, HumidityFilterAcceptsJumpsUpToFifty) {
  module_.SetValues(0, 0, {.wb = 40.0});
  Discover();
  // 45 points up pass; 65 down is held back.
  const double readings[] = {40.0, 85.0, 20.0};
  const double delivered[] = {40.0, 85.0, 85.0};
  for (size_t i = 0; i < std::size(readings); ++i) {
    module_.SetValues(0, 0, {.wb = readings[i]});
    float value = 0;
    ASSERT_EQ(Read("WB5.0.0", &value), 1);
    EXPECT_NEAR(value, delivered[i], 0.1) << i;
    NextWindow();
  }
}

TEST_F(Pxr5100ReadCycle, GateOpensTwoWholeSecondsAfterItLastOpened) {
  module_.SetValues(0, 0, {.ta = 5.0});
  Discover();
  const int64_t opened = clock().NowSeconds();
  ASSERT_EQ(Read("TA5.0.0"), 1);
  // The next second boundary but one, less a millisecond: still closed.
  clock().Advance((opened + 2) * 1000 - 1 - clock().NowMs());
  EXPECT_EQ(Read("TA5.0.0"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  clock().Advance(1);
  EXPECT_EQ(Read("TA5.0.0"), 1);
}

TEST_F(Pxr5100ReadCycle, EachModuleHasItsOwnGate) {
  auto& other = bus_.Emplace<sim::Pxr5100Module>(6);
  other.SetValues(0, 0, {.ta = 6.0});
  module_.SetValues(0, 0, {.ta = 5.0});
  Discover();
  ASSERT_EQ(Read("TA5.0.0"), 1);
  float value = 0;
  EXPECT_EQ(Read("TA6.0.0", &value), 1);  // module 5's block read did not close it
  EXPECT_EQ(value, 6.0f);
}

TEST_F(Pxr5100ReadCycle, NewObjectResetsTheClassTables) {
  module_.SetValues(0, 0, {.ta = 20.0});
  Discover();
  ASSERT_EQ(Read("TA5.0.0"), 1);
  Cpxr5100 second;
  EXPECT_FALSE(Module5().scanned);
  // The first object sees the reset: it scans again and the gate restarts.
  EXPECT_EQ(Read("TA5.0.0"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);
  EXPECT_EQ(log().Count("*050\r"), 2u);
}

struct LineFault {
  const char* name;
  FakeOp op;
  int nth;  // which call of op, counted from the block read's start
  DriverError code;
};

class Pxr5100LineFaults : public Pxr5100ReadCycle,
                          public ::testing::WithParamInterface<LineFault> {};

TEST_P(Pxr5100LineFaults, FailTheReadWithItsCodeAndLeaveTheValue) {
  const LineFault& fault = GetParam();
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  line().FailNext(fault.op, fault.nth);
  float value = 0;
  EXPECT_EQ(Read("TA5.0.0", &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), fault.code);
  EXPECT_EQ(value, kUntouched);
  NextWindow();
  EXPECT_EQ(Read("TA5.0.0", &value), 1);
}

INSTANTIATE_TEST_SUITE_P(Line, Pxr5100LineFaults,
                         ::testing::Values(LineFault{"ClearError", FakeOp::ClearError, 1,
                                                     ErrPortWrite},
                                           LineFault{"Write", FakeOp::Write, 1, ErrPortWrite},
                                           LineFault{"Read", FakeOp::Read, 1, ErrPortRead}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5100ReadCycle, FailedRepeatOfTheCommandFailsWith16) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  module_.SetFaults({.silent = true});
  line().FailNext(FakeOp::Write, 2);  // the first repeat
  EXPECT_EQ(Read("TA5.0.0"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrPortWrite);
}

TEST_F(Pxr5100ReadCycle, ItemsOutsideTheTablesAreRefusedWithoutTraffic) {
  struct Case {
    int32_t module;
    int16_t channel;
    int16_t point;
    DriverError code;
  };
  const Case cases[] = {{128, 0, 0, ErrModuleAddress}, {-1, 0, 0, ErrModuleAddress},
                        {261, 0, 0, ErrModuleAddress}, {5, 8, 0, ErrChannel},
                        {5, -1, 0, ErrChannel},        {5, 0, 64, ErrPointNumber},
                        {5, 0, -1, ErrPointNumber}};
  for (const Case& c : cases) {
    IoItem item{};
    item.RegisterIndex = 1;
    item.DataType = kDataTypeFloat;
    item.ModuleAddress = c.module;
    item.Channel = c.channel;
    item.Point = c.point;
    IoValue value{};
    EXPECT_EQ(driver_.ReadItem(&item, &value), 0);
    EXPECT_EQ(driver_.ErrorCode(), c.code);
  }
  EXPECT_EQ(log().size(), 0u);
  EXPECT_TRUE(line().writes().empty());
}

TEST_F(Pxr5100ReadCycle, UnknownRegisterIndexFailsWith22AfterTheBlockRead) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  IoItem item{};
  item.RegisterIndex = 8;
  item.ModuleAddress = 5;
  IoValue value{};
  value.AnalogValue = kUntouched;
  EXPECT_EQ(driver_.ReadItem(&item, &value), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrReadData);
  EXPECT_EQ(value.AnalogValue, kUntouched);
}

TEST_F(Pxr5100ReadCycle, TrafficGoesToTheTraceHandler) {
  module_.SetValues(0, 0, {.ta = 21.5});
  Discover();
  std::vector<std::pair<std::string, std::string>> traced;
  SetTraceHandler(
      [](void* context, const char* label, const uint8_t* bytes, int32_t count) {
        static_cast<decltype(traced)*>(context)->emplace_back(label,
                                                              std::string(bytes, bytes + count));
      },
      &traced);
  ASSERT_EQ(Read("TA5.0.0"), 1);
  SetTraceHandler(nullptr, nullptr);
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_EQ(traced[0], (std::pair<std::string, std::string>{"Read Send", "#050\r"}));
  EXPECT_EQ(traced[1].first, "Read Receive");
  const sim::Bytes answer = log().Entries().back().AnswerBytes();
  EXPECT_EQ(traced[1].second, std::string(answer.begin(), answer.end()));
}

// Discovery.

std::bitset<64> Present(int channel) {
  std::bitset<64> present;
  const auto points = Module5().Channel(channel);
  for (size_t p = 0; p < points.size(); ++p) present[p] = points[p].present;
  return present;
}

TEST_F(Pxr5100ReadCycle, ScanMarksExactlyTheListedPoints) {
  module_.SetValues(0, 5, {.ta = 1});
  module_.SetValues(0, 9, {.ta = 1});
  module_.SetValues(3, 63, {.ta = 1});
  Discover();
  EXPECT_EQ(Present(0), (std::bitset<64>{}.set(5).set(9)));
  EXPECT_TRUE(Present(1).none());
  EXPECT_EQ(Present(3), std::bitset<64>{}.set(63));
  EXPECT_TRUE(Module5().scanned);
}

TEST_F(Pxr5100ReadCycle, ScanIgnoresPointsBeyondTheChainAndDuplicates) {
  module_.SetValues(0, 5, {.ta = 1});
  module_.SetFaults({.extraPoint = 64, .pointTwice = true});
  EXPECT_EQ(Read("TA5.0.5"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrDelayNotElapsed);  // the scan went on
  EXPECT_EQ(Present(0), std::bitset<64>{}.set(5));
}

TEST_F(Pxr5100ReadCycle, ScanReplacesStaleMarks) {
  auto& state = Module5();
  state.Point(0, 2).present = true;
  state.Point(1, 7).present = true;
  module_.SetValues(0, 5, {.ta = 1});
  Discover();
  EXPECT_EQ(Present(0), std::bitset<64>{}.set(5));  // non-empty list: 2 is gone
  EXPECT_TRUE(Present(1).none());                   // empty list clears
}

TEST_F(Pxr5100ReadCycle, ScanNeedsTheCarriageReturnAfterAList) {
  module_.SetValues(0, 5, {.ta = 1});
  module_.SetFaults({.dropFinalCr = true}, 1);
  EXPECT_EQ(Read("TA5.0.5"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrInitModule);
  EXPECT_FALSE(Module5().scanned);
}

TEST_F(Pxr5100ReadCycle, SilentChannelSixFailsTheScanAndTheNextReadScansAgain) {
  for (int channel = 0; channel < 8; ++channel) module_.SetValues(channel, 1, {.ta = 1});
  // Channels 0 to 5 answer, channel 6 is silent.
  int answered = 0;
  line().SetPeer([&](const uint8_t* bytes, size_t count, int64_t now) {
    if (answered++ == 6) return std::vector<sim::Chunk>{};
    return bus_.Feed(bytes, count, now);
  });
  EXPECT_EQ(Read("TA5.0.1"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrInitModule);
  for (int channel = 0; channel < 6; ++channel) EXPECT_TRUE(Present(channel).test(1)) << channel;
  EXPECT_FALSE(Present(6).test(1));
  EXPECT_FALSE(Module5().scanned);
  EXPECT_EQ(log().Count("*057\r"), 0u);  // the scan stopped at channel 6
  // Scanned this time, and two seconds have passed since construction.
  EXPECT_EQ(Read("TA5.0.1"), 1);
  EXPECT_EQ(log().Count("*057\r"), 1u);
}

TEST_F(Pxr5100ReadCycle, ReadWithoutAnOpenPortFailsTheScan) {
  driver_.ClosePort();
  EXPECT_EQ(Read("TA5.0.0"), 0);
  EXPECT_EQ(driver_.ErrorCode(), ErrInitModule);
}

}  // namespace
}  // namespace tarvo
