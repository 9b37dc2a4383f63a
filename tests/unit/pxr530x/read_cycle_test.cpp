// The read cycle of both sensor-module classes on the fake line: one block
// read serves all four registers once, the pacing before each block read,
// the answers that fail it, the outlier filter and the rejected records.
#include <string>
#include <utility>
#include <vector>

#include "driver/error_text.h"
#include "driver/trace.h"
#include "gtest/gtest.h"
#include "pxr530x/pxr5303.h"
#include "pxr530x/pxr530x.h"
#include "sensor_line.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"

namespace tarvo {
namespace {

using Strings = std::vector<std::string>;
using Sleeps = std::vector<uint32_t>;
constexpr int64_t kGateMs = 2000;

// The last n sleeps.
Sleeps LastSleeps(test::FakeClock& clock, size_t n) {
  const Sleeps& all = clock.sleeps();
  return Sleeps(all.end() - static_cast<std::ptrdiff_t>(std::min(n, all.size())), all.end());
}

// A CPxr5303 on a line with module 5 (or another address), scanned, its
// gate open for the first block read.
class Read5303 : public ::testing::Test {
 protected:
  explicit Read5303(int address = 5) : module(line.bus.Emplace<sim::Pxr5303Module>(address)) {}
  // Scans the module with a read of address and opens the gate.
  void Scan(const char* address) {
    ASSERT_EQ(line.ReadCode(address), ErrDelayNotElapsed);
    line.clock().Advance(kGateMs);
  }

  test::SensorLine<CPxr5303> line;
  sim::Pxr5303Module& module;
};

TEST_F(Read5303, OneBlockReadServesEachRegisterOnce) {
  module.SetRecord(0, 3, {0x32, 0x00, 0x0C, 0x10});
  Scan("TA5.0.3");
  const size_t mark = line.WriteCount();
  EXPECT_EQ(line.Value("TA5.0.3"), 25.0f);
  EXPECT_EQ(line.Value("TB5.0.3"), 3.125f);
  EXPECT_EQ(line.Value("WA5.0.3"), 0.75f);
  EXPECT_EQ(line.Value("WB5.0.3"), 0.0f);
  EXPECT_EQ(line.Writes(mark), Strings{"#058\r"});
  line.clock().Advance(kGateMs);
  EXPECT_EQ(line.Value("TA5.0.3"), 25.0f);
  EXPECT_EQ(line.Writes(mark), (Strings{"#058\r", "#058\r"}));
}

TEST_F(Read5303, TheGateOpensTwoWholeSecondsAfterItLastOpened) {
  module.SetValues(0, 3, {.ta = 21.5});
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);  // at 1000.8 s
  const size_t scanned = line.WriteCount();
  line.clock().Advance(1199);  // 1001.999 s
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  EXPECT_EQ(line.WriteCount(), scanned);
  line.clock().Advance(1);  // 1002 s
  EXPECT_EQ(line.Value("TA5.0.3"), 21.5f);
  // Used up at once: the next block read waits for 1004 s.
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  line.clock().Advance(1999 - line.Elapsed() % 1000);
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  line.clock().Advance(kGateMs);
  // A block read that fails still uses the opening up.
  line.line().FailNext(test::FakeOp::ClearError);
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrPortWrite);
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  EXPECT_EQ(line.WriteCount(), scanned + 1);
}

TEST_F(Read5303, APointWithoutASensorOrAnUnknownRegisterFailsAfterABlockRead) {
  module.SetValues(0, 3, {.ta = 21.5});
  Scan("TA5.0.3");
  EXPECT_EQ(line.ReadCode("TA5.0.4"), ErrReadData);
  for (int16_t index : {0, 5}) {
    line.clock().Advance(kGateMs);
    const size_t mark = line.WriteCount();
    IoItem item{};
    item.RegisterIndex = index;
    item.ModuleAddress = 5;
    item.Point = 3;
    IoValue value{};
    EXPECT_EQ(line.driver().ReadItem(&item, &value), 0);
    EXPECT_EQ(line.driver().ErrorCode(), ErrReadData);
    EXPECT_EQ(line.Writes(mark), Strings{"#058\r"});
  }
}

TEST_F(Read5303, ASilentModuleIsAskedThreeTimes) {
  module.SetValues(0, 3, {.ta = 21.5});
  Scan("TA5.0.3");
  const size_t mark = line.WriteCount();
  const int64_t start = line.Elapsed();
  module.SetFaults({.silent = true});
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrReadData);
  EXPECT_EQ(line.Writes(mark), (Strings{"#058\r", "#058\r", "#058\r"}));
  EXPECT_EQ(line.WriteTimes(mark), (std::vector<int64_t>{start, start + 800, start + 1600}));
  EXPECT_EQ(LastSleeps(line.clock(), 7), (Sleeps{300, 500, 300, 500, 300, 500, 2000}));
  EXPECT_EQ(line.Elapsed(), start + 4400);

  // Answered at the second try.
  module.SetFaults({.silent = true}, 1);
  line.clock().Advance(kGateMs);
  EXPECT_EQ(line.Value("TA5.0.3"), 21.5f);
  EXPECT_EQ(LastSleeps(line.clock(), 3), (Sleeps{300, 500, 300}));
}

struct WrongAnswer {
  const char* name;
  sim::Faults faults;
};

class Read5303WrongAnswer : public Read5303, public ::testing::WithParamInterface<WrongAnswer> {
 protected:
  Read5303WrongAnswer() : Read5303(10) {}
};

TEST_P(Read5303WrongAnswer, FailsAfterTwoSecondsLeavingTheRecords) {
  module.SetRecord(0, 3, {0x32, 0x00, 0x0C, 0x10});
  Scan("TA10.0.3");
  EXPECT_EQ(line.Value("TA10.0.3"), 25.0f);
  line.clock().Advance(kGateMs);
  module.SetRecord(0, 3, {0x40, 0x00, 0x0C, 0x10});
  module.SetFaults(GetParam().faults, 1);
  const size_t mark = line.WriteCount();
  EXPECT_EQ(line.ReadCode("TA10.0.3"), ErrReadData);
  EXPECT_EQ(line.Writes(mark), Strings{"#0A8\r"});
  EXPECT_EQ(LastSleeps(line.clock(), 2), (Sleeps{300, 2000}));
  // TB is still fresh from the block read before, with its old record.
  EXPECT_EQ(line.Value("TB10.0.3"), 3.125f);
  EXPECT_EQ(line.WriteCount(), mark + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, Read5303WrongAnswer,
    ::testing::Values(WrongAnswer{"Head", {.head = '!'}},
                      WrongAnswer{"OtherAddress", {.fromAddress = 11}},
                      WrongAnswer{"LowerCaseAddress", {.swapAddressCase = true}},
                      WrongAnswer{"Noise", {.noise = {.count = 3, .fixed = '>'}}}),
    [](const auto& info) { return std::string(info.param.name); });

struct LineFault {
  const char* name;
  test::FakeOp op;
  int call;           // counted from the block read's start
  bool silentModule;  // so that the command is sent again
  DriverError code;
  size_t commands;  // block-read commands written
};

class Read5303LineFault : public Read5303, public ::testing::WithParamInterface<LineFault> {};

TEST_P(Read5303LineFault, FailsLeavingTheValueAndTheTables) {
  const LineFault& c = GetParam();
  module.SetValues(0, 3, {.ta = 21.5});
  Scan("TA5.0.3");
  if (c.silentModule) module.SetFaults({.silent = true}, 1);
  line.line().FailNext(c.op, c.call);
  const size_t mark = line.WriteCount();
  EXPECT_EQ(line.ReadCode("TA5.0.3"), c.code);
  EXPECT_STREQ(line.driver().GetErrorText(), ErrorText(c.code));
  EXPECT_EQ(line.Writes(mark).size(), c.commands);
  line.clock().Advance(kGateMs);
  EXPECT_EQ(line.Value("TA5.0.3"), 21.5f);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Read5303LineFault,
    ::testing::Values(LineFault{"ClearError", test::FakeOp::ClearError, 1, false, ErrPortWrite, 0},
                      LineFault{"Command", test::FakeOp::Write, 1, false, ErrPortWrite, 0},
                      LineFault{"Repeat", test::FakeOp::Write, 2, true, ErrPortWrite, 1},
                      LineFault{"Read", test::FakeOp::Read, 1, false, ErrPortRead, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// Records whose WA and WB the conversions reject: only that register's
// record is used up.
TEST_F(Read5303, ARejectedRecordFailsOnlyItsRegister) {
  module.SetRecord(0, 3, {0x32, 0xFF, 0x0C, 0x10});
  Scan("TA5.0.3");
  EXPECT_EQ(line.ReadCode("WA5.0.3"), ErrReadData);
  const size_t mark = line.WriteCount();
  EXPECT_EQ(line.ReadCode("WB5.0.3"), ErrReadData);
  EXPECT_EQ(line.Value("TA5.0.3"), -103.5f);
  EXPECT_EQ(line.Value("TB5.0.3"), -12.875f);
  EXPECT_EQ(line.WriteCount(), mark);
  // WA's record is used up: the next read asks the module.
  EXPECT_EQ(line.ReadCode("WA5.0.3"), ErrDelayNotElapsed);
  line.clock().Advance(kGateMs);
  EXPECT_EQ(line.ReadCode("WA5.0.3"), ErrReadData);
  EXPECT_EQ(line.Writes(mark), Strings{"#058\r"});
}

TEST_F(Read5303, TrafficGoesToTheTraceHandler) {
  module.SetValues(0, 3, {.ta = 21.5});
  std::vector<std::pair<std::string, std::string>> seen;
  SetTraceHandler(
      [](void* context, const char* label, const uint8_t* bytes, int32_t count) {
        static_cast<decltype(seen)*>(context)->emplace_back(label,
                                                            std::string(bytes, bytes + count));
      },
      &seen);
  Scan("TA5.0.3");
  line.Value("TA5.0.3");
  SetTraceHandler(nullptr, nullptr);
  ASSERT_EQ(seen.size(), 8u);
  using Trace = std::pair<std::string, std::string>;
  EXPECT_EQ(seen[0], (Trace{"Read Send", "$056\r"}));
  EXPECT_EQ(seen[1], (Trace{"Read Receive", std::string("!0501\x01\x00\x00", 8)}));
  EXPECT_EQ(seen[2], (Trace{"Read Send", "*050\r"}));
  EXPECT_EQ(seen[4], (Trace{"Read Send", "#058\r"}));
  EXPECT_EQ(seen[6], (Trace{"Read Send", "#058\r"}));
  EXPECT_EQ(seen[7].first, "Read Receive");
  EXPECT_EQ(seen[7].second.size(), 9u);
}

// The CPxr530x paces its block reads by waiting 10 s before each.
class Read530x : public ::testing::Test {
 protected:
  Read530x() : module(line.bus.Emplace<sim::Pxr530xModule>(5)) {}

  test::SensorLine<CPxr530x> line;
  sim::Pxr530xModule& module;
};

TEST_F(Read530x, OneBlockReadServesEachRegisterOnceAfterTenSeconds) {
  module.SetRecord(2, 3, {0x32, 0x00, 0x0C, 0x10});
  EXPECT_EQ(line.Value("TA5.2.3"), 25.0f);
  Sleeps expected;
  for (int c = 0; c < 8; ++c) expected.insert(expected.end(), {100, 100});
  expected.insert(expected.end(), {10000, 300});
  EXPECT_EQ(line.clock().sleeps(), expected);
  EXPECT_EQ(line.Elapsed(), 11900);

  EXPECT_EQ(line.Value("TB5.2.3"), 3.125f);
  EXPECT_EQ(line.Value("WA5.2.3"), 0.1875f);
  EXPECT_NEAR(line.Value("WB5.2.3"), 24.66f, 0.01f);
  EXPECT_EQ(line.WriteCount(), 9u);
  EXPECT_EQ(line.Elapsed(), 11900);

  EXPECT_EQ(line.Value("TA5.2.3"), 25.0f);
  EXPECT_EQ(LastSleeps(line.clock(), 2), (Sleeps{10000, 300}));
  EXPECT_EQ(line.WriteTimes(9), std::vector<int64_t>{21900});
}

TEST_F(Read530x, ARejectedRecordFailsOnlyItsRegister) {
  module.SetRecord(0, 1, {0x32, 0x01, 0xFE, 0x10});  // WA invalid
  module.SetRecord(0, 2, {0x32, 0x01, 0x00, 0xFE});  // WB invalid
  module.SetRecord(0, 3, {0x32, 0x01, 0x00, 0x00});
  EXPECT_EQ(line.ReadCode("WA5.0.1"), ErrReadData);
  EXPECT_EQ(line.WriteCount(), 9u);
  EXPECT_EQ(line.Value("TA5.0.1"), 0.1f);  // b1 neither 0x00 nor 0xFF
  EXPECT_EQ(line.Value("TB5.0.1"), 19.125f);
  EXPECT_EQ(line.Value("WB5.0.1"), 100.0f);
  EXPECT_EQ(line.ReadCode("WB5.0.2"), ErrReadData);
  EXPECT_EQ(line.Value("WA5.0.2"), 1.1875f);
  EXPECT_NEAR(line.Value("WB5.0.3"), 20.66f, 0.01f);
  EXPECT_EQ(line.WriteCount(), 9u);
}

// A sequence of readings of one register and what the host gets for each.
struct FilterCase {
  const char* name;
  bool pxr530x;
  const char* address;
  std::vector<sim::RawRecord> records;
  std::vector<float> delivered;
};

sim::RawRecord Ta(double degrees) { return sim::EncodePxr5303({.ta = degrees}); }
// TA of b0 / 2 - 0.25 + (100 - b2) / 100: hundredths.
sim::RawRecord TaFine(uint8_t halves, uint8_t b2) { return {halves, 0x00, b2, 100}; }
sim::RawRecord Wb5303(double value) { return sim::EncodePxr5303({.wa = 0.0, .wb = value}); }
sim::RawRecord Wa530x(double degrees) { return sim::EncodePxr530x({.wa = degrees}); }
sim::RawRecord Wb530x(double percent) { return sim::EncodePxr530x({.wb = percent}); }

class Filter : public ::testing::TestWithParam<FilterCase> {};

template <class Driver, class Module>
void RunFilterCase(const FilterCase& c) {
  test::SensorLine<Driver> line;
  auto& module = line.bus.template Emplace<Module>(5);
  for (size_t i = 0; i < c.records.size(); ++i) {
    module.SetRecord(0, 1, c.records[i]);
    line.clock().Advance(kGateMs);
    float value = -999.0f;
    DriverError code = ErrOk;
    if (line.Read(c.address, &value, &code) == 0 && code == ErrDelayNotElapsed) {
      line.clock().Advance(kGateMs);  // the first read only scanned
      line.Read(c.address, &value, &code);
    }
    EXPECT_EQ(code, ErrOk) << "reading " << i;
    EXPECT_EQ(value, c.delivered[i]) << "reading " << i;
  }
}

TEST_P(Filter, HoldsBackJumps) {
  const FilterCase& c = GetParam();
  if (c.pxr530x)
    RunFilterCase<CPxr530x, sim::Pxr530xModule>(c);
  else
    RunFilterCase<CPxr5303, sim::Pxr5303Module>(c);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Filter,
    ::testing::Values(
        // Three jumps held back, an accepted value between them, the fourth passes.
        FilterCase{"FourthJumpPasses",
                   false,
                   "TA5.0.1",
                   {Ta(20.0), Ta(31.5), Ta(31.875), Ta(25.0), Ta(40.0), Ta(41.0), Ta(52.0)},
                   {20.0f, 20.0f, 20.0f, 25.0f, 25.0f, 41.0f, 41.0f}},
        FilterCase{"TruncatedDifferenceOfTenPasses",
                   false,
                   "TA5.0.1",
                   {Ta(20.0), Ta(30.5)},
                   {20.0f, 30.5f}},
        // 30.99 - 20.0 counts as 10; 31.0 - 20.0 is 11.
        FilterCase{"TenNinetyNinePasses",
                   false,
                   "TA5.0.1",
                   {TaFine(40, 75), TaFine(62, 76)},
                   {20.0f, 30.99f}},
        FilterCase{
            "ElevenIsHeld", false, "TA5.0.1", {TaFine(40, 75), TaFine(62, 75)}, {20.0f, 20.0f}},
        FilterCase{
            "WbOfFiftyPasses", false, "WB5.0.1", {Wb5303(10.0), Wb5303(60.5)}, {10.0f, 60.5f}},
        FilterCase{
            "WbOfFiftyOneIsHeld", false, "WB5.0.1", {Wb5303(10.0), Wb5303(61.0)}, {10.0f, 10.0f}},
        FilterCase{"WaThresholdTen",
                   true,
                   "WA5.0.1",
                   {Wa530x(20.0), Wa530x(31.0), Wa530x(30.9375)},
                   {20.0f, 20.0f, 30.9375f}},
        FilterCase{"HumidityThresholdFifty",
                   true,
                   "WB5.0.1",
                   {Wb530x(0.0), Wb530x(51.5), Wb530x(100.0), Wb530x(40.0)},
                   {0.0f, 0.0f, 0.0f, 40.0f}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarvo
