// The pxr5760 read cycle on the fake line: the scan, the refresh gate, the
// block read with its answer loop, the distribution of the records over the
// points, and every failure with its code and what it leaves behind.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "driver/trace.h"
#include "unit/pxr5760/driver_fixture.h"

namespace tarvo::test {
namespace {

using Commands_ = std::vector<std::string>;

const Commands_ kScan = {"*1a0\r", "*1a1\r", "*1a2\r", "*1a3\r",
                         "*1a4\r", "*1a5\r", "*1a6\r", "*1a7\r"};

// A TA record of value sixteenths / 16 (positive, below 2048).
sim::RawRecord Ta(int sixteenths) {
  return {0, 0, static_cast<uint8_t>(sixteenths & 0xFF), static_cast<uint8_t>(sixteenths >> 8)};
}

std::vector<uint32_t> SleepsSince(const FakeClock& clock, size_t from) {
  return {clock.sleeps().begin() + static_cast<std::ptrdiff_t>(from), clock.sleeps().end()};
}

using Pxr5760Read = Pxr5760Driver;

TEST_F(Pxr5760Read, FirstReadScansEveryChannelThenWaitsForTheGate) {
  const Outcome out = Read("TA26.0.0");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrDelayNotElapsed);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(Commands(), kScan);
  // Each channel: the write, a 100 ms pause, and the read's own 100 ms.
  EXPECT_EQ(clock().sleeps(), std::vector<uint32_t>(16, 100));
  // Scanned once: the next read goes straight to the (still shut) gate.
  EXPECT_EQ(Read("TA26.0.0").code, ErrDelayNotElapsed);
  EXPECT_EQ(Commands().size(), 8u);
}

TEST_F(Pxr5760Read, OneBlockReadServesEveryValueOfTheModuleOnce) {
  module.SetRecord(0, 1, Ta(16 * 20));
  module.SetRecord(3, 7, Ta(16 * 30 + 8));
  ScanAndOpenGate();
  ClearLog();

  Outcome out = Read("TA26.0.1");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.code, ErrOk);
  EXPECT_EQ(out.value.AnalogValue, 20.0f);
  EXPECT_EQ(Commands(), Commands_{"#1a8\r"});
  EXPECT_EQ(line().writes().back().bytes, (std::vector<uint8_t>{'#', '1', 'a', '8', 0x0D}));

  // Other points and other values of the same point come from memory.
  EXPECT_EQ(Read("TA26.3.7").value.AnalogValue, 30.5f);
  EXPECT_EQ(Read("HB26.0.1").result, 1);
  EXPECT_EQ(Read("KT26.3.7").result, 1);
  EXPECT_EQ(Read("DI26.3.7.0").result, 1);
  EXPECT_EQ(Commands().size(), 1u);

  // A value handed out once needs the next block read.
  out = Read("TA26.0.1");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrDelayNotElapsed);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(Commands().size(), 1u);
  clock().Advance(999);  // 3.099 s: one whole second after the block read
  EXPECT_EQ(Read("TA26.0.1").code, ErrDelayNotElapsed);
  AwaitGate(2000);
  EXPECT_EQ(Read("TA26.0.1").result, 1);
  EXPECT_EQ(Commands().size(), 2u);
}

TEST_F(Pxr5760Read, InputAndOutputBitsShareOneFlag) {
  module.SetRecord(1, 2, {0x00, 0x08, 0x0C, 0x00});
  ScanAndOpenGate();
  Outcome out = Read("DI26.1.2.3");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.DiscreteValue, 1u);
  out = Read("DO26.1.2.3");
  EXPECT_EQ(out.code, ErrDelayNotElapsed);
  EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits);
  // Another bit is still fresh, for either register.
  out = Read("DO26.1.2.2");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.DiscreteValue, 1u);
  EXPECT_EQ(Read("DI26.1.2.2").code, ErrDelayNotElapsed);
  EXPECT_EQ(Commands().size(), 9u);
}

TEST_F(Pxr5760Read, ChannelRecordsGoToTheListedPointsInOrder) {
  module.SetRecord(0, 31, Ta(16 * 1));
  module.SetRecord(2, 9, Ta(16 * 9));
  module.SetRecord(2, 0, Ta(16 * 10));
  module.SetRecord(2, 5, Ta(16 * 5));
  module.SetRecord(7, 0, Ta(16 * 70));
  ScanAndOpenGate();
  const std::pair<const char*, float> expected[] = {
      {"TA26.2.9", 9.0f},  {"TA26.0.31", 1.0f}, {"TA26.2.0", 10.0f},
      {"TA26.7.0", 70.0f}, {"TA26.2.5", 5.0f},
  };
  for (const auto& [address, value] : expected) {
    const Outcome out = Read(address);
    EXPECT_EQ(out.result, 1) << address;
    EXPECT_EQ(out.value.AnalogValue, value) << address;
  }
  EXPECT_EQ(bus.log().Count("#1a8"), 1u);
}

TEST_F(Pxr5760Read, AFullModuleFitsTheAnswerBuffer) {
  for (int c = 0; c < 8; ++c)
    for (int p = 0; p < 32; ++p) module.SetRecord(c, p, Ta(c * 32 + p));
  // Every list also names a point twice and one the channel cannot have: the
  // module sends a record for every entry, and every entry is counted.
  module.SetFaults({.extraPoint = 200, .pointTwice = true}, 8);
  ScanAndOpenGate();
  for (const char* address : {"TA26.7.31", "TA26.0.0", "TA26.4.17"}) {
    IoItem item = Item(address);
    const Outcome out = ReadItem(item);
    EXPECT_EQ(out.result, 1) << address;
    EXPECT_EQ(out.value.AnalogValue, (item.Channel * 32 + item.Point) / 16.0f) << address;
  }
}

TEST_F(Pxr5760Read, AnAnswerCutInsideARecordDeliversTheRecordsBeforeIt) {
  module.SetRecord(0, 2, {0x00, 0x10, 0x20, 0x01});
  module.SetRecord(1, 4, {0x00, 0x10, 0x20, 0x01});
  ScanAndOpenGate();
  module.SetFaults({.truncateTo = 11}, 1);  // the head, one record and half the next
  Outcome out = Read("HB26.1.4");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  out = Read("HB26.0.2");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, 8.0f);
  EXPECT_EQ(Read("TA26.0.2").value.AnalogValue, 18.0f);
  EXPECT_EQ(bus.log().Count("#1a8"), 1u);
}

// A list that names a point twice, or a point the channel cannot have,
// counts every entry: the module sends a record for each, and the next
// channel's records start after all of them.
TEST_F(Pxr5760Read, EveryListEntryTakesARecordAndLaterChannelsStartAfterThem) {
  module.SetRecord(0, 2, Ta(16 * 2));
  module.SetRecord(0, 9, Ta(16 * 9));
  module.SetRecord(1, 4, Ta(16 * 4));
  struct Lists {
    const char* what;
    sim::Faults faults;
    int answers;  // the lists of channels 0..answers-1
  };
  const Lists rows[] = {
      {"channel 0 lists a point twice", {.pointTwice = true}, 1},
      {"channel 0 lists point 40", {.extraPoint = 40}, 1},
      {"every channel lists a point twice and point 32", {.extraPoint = 32, .pointTwice = true}, 8},
  };
  for (const Lists& row : rows) {
    SCOPED_TRACE(row.what);
    // A new object at the start of a whole second: it scans again, and its
    // gate stays shut through the scan.
    clock().Advance(1000 - clock().NowMs() % 1000);
    NewDriver();
    module.SetFaults(row.faults, row.answers);
    ASSERT_EQ(Read("TA26.0.0").code, ErrDelayNotElapsed);
    clock().Advance(2000);
    EXPECT_EQ(Read("TA26.1.4").value.AnalogValue, 4.0f);
    EXPECT_EQ(Read("TA26.0.9").value.AnalogValue, 9.0f);
    EXPECT_EQ(Read("TA26.0.2").value.AnalogValue, 2.0f);
  }
}

TEST_F(Pxr5760Read, ARescanForgetsPointsTheChannelNoLongerLists) {
  module.SetRecord(2, 0, Ta(16 * 10));
  module.SetRecord(2, 5, Ta(16 * 5));
  module.SetRecord(4, 1, Ta(16 * 41));
  line().FailNext(FakeOp::Write, 4);  // the scan of channel 3 cannot be sent
  Outcome out = Read("TA26.2.5");
  EXPECT_EQ(out.code, ErrInitModule);
  EXPECT_EQ(Commands().size(), 3u);

  module.RemovePoint(2, 0);
  clock().Advance(2000);
  out = Read("TA26.2.5");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, 5.0f);
  EXPECT_EQ(Read("TA26.4.1").value.AnalogValue, 41.0f);
  EXPECT_EQ(Read("TA26.2.0").code, ErrDelayNotElapsed);
}

TEST_F(Pxr5760Read, APointTheScanDidNotListHasNoValues) {
  module.SetRecord(0, 1, Ta(16));
  ScanAndOpenGate();
  for (const char* address : {"TA26.0.2", "HB26.0.2", "KT26.0.2", "DI26.0.2.0", "DO26.0.2.0",
                              "LT26.0.2.0", "AD26.0.2.0"}) {
    clock().Advance(2000);
    const Outcome out = Read(address);
    EXPECT_EQ(out.result, 0) << address;
    EXPECT_EQ(out.code, ErrReadData) << address;
    EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits) << address;
    EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog) << address;
  }
  EXPECT_EQ(bus.log().Count("#1a8"), 7u);
}

struct HeadFault {
  const char* name;
  sim::Faults faults;
};

class Pxr5760WrongHead : public Pxr5760Driver, public ::testing::WithParamInterface<HeadFault> {};

TEST_P(Pxr5760WrongHead, FailsAfterTwoSecondsAndUsesUpTheGate) {
  module.SetRecord(0, 0, Ta(16));
  ScanAndOpenGate();
  module.SetFaults(GetParam().faults, 1);
  const size_t sleeps = clock().sleeps().size();
  Outcome out = Read("TA26.0.0");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(SleepsSince(clock(), sleeps), (std::vector<uint32_t>{100, 2000}));
  EXPECT_EQ(clock().NowMs(), 4100);
  // The records were not taken: nothing is fresh, and the next read needs
  // the next block read, which the 2 s pause has let the gate allow.
  out = Read("HB26.0.0");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, 0.0f);
  EXPECT_EQ(bus.log().Count("#1a8"), 2u);
}

INSTANTIATE_TEST_SUITE_P(Faults, Pxr5760WrongHead,
                         ::testing::Values(HeadFault{"OtherModule", {.fromAddress = 27}},
                                           HeadFault{"UpperCaseDigits", {.swapAddressCase = true}},
                                           HeadFault{"Acknowledgement", {.head = '!'}},
                                           HeadFault{"Garbage",
                                                     {.noise = {.count = 3, .fixed = 0x55}}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5760Read, ThreeTriesWithoutAnAnswer) {
  module.SetRecord(0, 0, Ta(16));
  ScanAndOpenGate();
  module.SetFaults({.silent = true});
  const size_t sleeps = clock().sleeps().size();
  const size_t writes = line().writes().size();
  const Outcome out = Read("TA26.0.0");
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_EQ(SleepsSince(clock(), sleeps),
            (std::vector<uint32_t>{100, 500, 100, 500, 100, 500, 2000}));
  ASSERT_EQ(line().writes().size(), writes + 3);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(line().writes()[writes + i].atMs, 2000 + 600 * static_cast<int64_t>(i));
    EXPECT_EQ(line().writes()[writes + i].bytes, (std::vector<uint8_t>{'#', '1', 'a', '8', 0x0D}));
  }
}

TEST_F(Pxr5760Read, AnAnswerAfterAnEmptyReadIsTaken) {
  module.SetRecord(0, 0, Ta(16 * 3));
  ScanAndOpenGate();
  module.SetFaults({.silent = true}, 1);
  const Outcome out = Read("TA26.0.0");
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.AnalogValue, 3.0f);
  EXPECT_EQ(bus.log().Count("#1a8"), 2u);
}

struct LineFault {
  const char* name;
  FakeOp op;
  int call;  // counted from the first call of the block read
  bool silent;
  int32_t code;
  size_t commandsSent;
};

class Pxr5760LineFault : public Pxr5760Driver, public ::testing::WithParamInterface<LineFault> {};

TEST_P(Pxr5760LineFault, FailsWithItsCodeAndLeavesTheValue) {
  const LineFault& c = GetParam();
  module.SetRecord(0, 0, Ta(16));
  ScanAndOpenGate();
  ClearLog();
  if (c.silent) module.SetFaults({.silent = true});
  line().FailNext(c.op, c.call);
  const Outcome out = Read("TA26.0.0");
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, c.code);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits);
  EXPECT_EQ(Commands().size(), c.commandsSent);
  // The gate was used up.
  EXPECT_EQ(Read("TA26.0.0").code, ErrDelayNotElapsed);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Pxr5760LineFault,
    ::testing::Values(
        // ClearError is the block read's own call, then one inside each read.
        LineFault{"ClearErrorBeforeTheCommand", FakeOp::ClearError, 1, false, ErrPortWrite, 0},
        LineFault{"CommandWrite", FakeOp::Write, 1, false, ErrPortWrite, 0},
        LineFault{"RepeatedCommandWrite", FakeOp::Write, 2, true, ErrPortWrite, 1},
        LineFault{"FirstRead", FakeOp::Read, 1, false, ErrPortRead, 1},
        LineFault{"ReadAfterARepeat", FakeOp::ClearError, 3, true, ErrPortRead, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5760Read, ScanFailuresAreRetriedAtTheNextRead) {
  struct Case {
    const char* name;
    std::function<void()> arm;
    size_t commands;  // scan commands the failing scan sent
  };
  const Case cases[] = {
      {"WriteFails", [&] { line().FailNext(FakeOp::Write, 3); }, 2},
      {"ReadFails", [&] { line().FailNext(FakeOp::Read, 5); }, 5},
      {"MissingCr", [&] { module.SetFaults({.dropFinalCr = true}, 1); }, 1},
      {"SilentOnChannel0", [&] { module.SetFaults({.silent = true}, 1); }, 1},
      {"OtherModuleOnChannel0", [&] { module.SetFaults({.fromAddress = 27}, 1); }, 1},
  };
  module.SetRecord(0, 0, Ta(16));
  for (const Case& c : cases) {
    NewDriver();
    ClearLog();
    c.arm();
    Outcome out = Read("TA26.0.0");
    EXPECT_EQ(out.result, 0) << c.name;
    EXPECT_EQ(out.code, ErrInitModule) << c.name;
    EXPECT_EQ(Commands(), Commands_(kScan.begin(), kScan.begin() + c.commands)) << c.name;
    ClearLog();
    clock().Advance(2000);
    out = Read("TA26.0.0");
    EXPECT_EQ(out.result, 1) << c.name;
    Commands_ expected = kScan;
    expected.push_back("#1a8\r");
    EXPECT_EQ(Commands(), expected) << c.name;
  }
}

TEST_F(Pxr5760Read, ALaterChannelWithoutAnAnswerEndsTheScanWithWhatWasLearned) {
  module.SetRecord(0, 4, Ta(16 * 4));
  module.SetRecord(5, 1, Ta(16 * 51));
  // Channels 0..2 answer; channel 3's answer names another module.
  line().SetPeer([this](const uint8_t* bytes, size_t count, int64_t now) {
    if (bus.log().Count("*1a") == 3) module.SetFaults({.fromAddress = 27}, 1);
    return bus.Feed(bytes, count, now);
  });
  EXPECT_EQ(Read("TA26.0.4").code, ErrDelayNotElapsed);
  EXPECT_EQ(Commands(), Commands_(kScan.begin(), kScan.begin() + 4));
  clock().Advance(2000);
  EXPECT_EQ(Read("TA26.0.4").value.AnalogValue, 4.0f);
  // Channel 5 was never listed: the module sent its record, no point took it.
  EXPECT_EQ(Read("TA26.5.1").code, ErrDelayNotElapsed);
  EXPECT_EQ(bus.log().Count("*1a"), 4u);
}

TEST_F(Pxr5760Read, ANewObjectScansAgainAndForgetsTheRecords) {
  module.SetRecord(0, 0, Ta(16));
  ScanAndOpenGate();
  ASSERT_EQ(Read("TA26.0.0").result, 1);
  NewDriver();
  EXPECT_EQ(Read("HB26.0.0").code, ErrDelayNotElapsed);
  EXPECT_EQ(bus.log().Count("*1a"), 16u);
}

struct BadItem {
  const char* name;
  int16_t reg;
  int32_t module;
  int16_t channel;
  int16_t point;
  int16_t sub;
  int32_t code;
};

class Pxr5760BadItem : public Pxr5760Driver, public ::testing::WithParamInterface<BadItem> {};

TEST_P(Pxr5760BadItem, IsRefusedBeforeAnythingIsSent) {
  const BadItem& c = GetParam();
  IoItem item{};
  item.RegisterIndex = c.reg;
  item.ModuleAddress = c.module;
  item.Channel = c.channel;
  item.Point = c.point;
  item.SubIndex = c.sub;
  const Outcome out = ReadItem(item);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, c.code);
  EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
  EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits);
  EXPECT_TRUE(line().writes().empty());
  EXPECT_TRUE(clock().sleeps().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Items, Pxr5760BadItem,
    ::testing::Values(BadItem{"Point32", 1, 26, 0, 32, 0, ErrPointNumber},
                      BadItem{"Point63", 7, 26, 0, 63, 0, ErrPointNumber},
                      BadItem{"NegativePoint", 1, 26, 0, -1, 0, ErrPointNumber},
                      BadItem{"Module128", 1, 128, 0, 0, 0, ErrModuleAddress},
                      BadItem{"NegativeModule", 1, -1, 0, 0, 0, ErrModuleAddress},
                      BadItem{"Module282", 1, 282, 0, 0, 0, ErrModuleAddress},
                      BadItem{"Channel8", 1, 26, 8, 0, 0, ErrChannel},
                      BadItem{"LtSub8", 4, 26, 0, 0, 8, ErrRegisterName},
                      BadItem{"DiSub9", 5, 26, 0, 0, 9, ErrRegisterName},
                      BadItem{"DoSubNegative", 6, 26, 0, 0, -1, ErrRegisterName},
                      BadItem{"AdSub8", 7, 26, 0, 0, 8, ErrRegisterName}),
    [](const auto& info) { return std::string(info.param.name); });

// A register outside 1..7 has no value: its read takes the road of any read
// (the scan, the gate, the block read) and then fails with 22.
TEST_F(Pxr5760Read, ARegisterOutsideTheTableFailsAfterTheBlockRead) {
  module.SetRecord(0, 0, Ta(16 * 7));
  for (const int16_t reg : {int16_t{0}, int16_t{8}}) {
    SCOPED_TRACE(reg);
    IoItem item = Item("TA26.0.0");
    item.RegisterIndex = reg;
    clock().Advance(1000 - clock().NowMs() % 1000);
    NewDriver();
    ClearLog();
    EXPECT_EQ(ReadItem(item).code, ErrDelayNotElapsed);
    EXPECT_EQ(Commands(), kScan);
    clock().Advance(2000);
    const Outcome out = ReadItem(item);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.code, ErrReadData);
    EXPECT_EQ(out.value.AnalogValue, kUntouchedAnalog);
    EXPECT_EQ(out.value.DiscreteValue, kUntouchedBits);
    EXPECT_EQ(Commands().back(), "#1a8\r");
  }
}

TEST_F(Pxr5760Read, ValuesWithoutASubIndexIgnoreIt) {
  module.SetRecord(0, 0, Ta(16 * 7));
  ScanAndOpenGate();
  IoItem item = Item("TA26.0.0");
  item.SubIndex = 99;
  EXPECT_EQ(ReadItem(item).value.AnalogValue, 7.0f);
}

TEST_F(Pxr5760Read, TrafficGoesToTheTraceHandler) {
  std::vector<std::pair<std::string, std::string>> seen;
  SetTraceHandler(
      [](void* context, const char* label, const uint8_t* bytes, int32_t count) {
        static_cast<decltype(seen)*>(context)->emplace_back(
            label, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)));
      },
      &seen);
  module.SetRecord(0, 0, {0x01, 0x02, 0x03, 0x04});
  ScanAndOpenGate();
  module.SetFaults({.silent = true}, 1);
  EXPECT_EQ(Read("TA26.0.0").result, 1);
  SetTraceHandler(nullptr, nullptr);
  ASSERT_EQ(seen.size(), 16u + 4u);
  EXPECT_EQ(seen[0], std::make_pair(std::string("Read Send"), std::string("*1a0\r")));
  EXPECT_EQ(seen[1], std::make_pair(std::string("Read Receive"), std::string(">1a0\x01\x00\r", 7)));
  const std::vector<std::pair<std::string, std::string>> block(seen.begin() + 16, seen.end());
  EXPECT_EQ(block, (std::vector<std::pair<std::string, std::string>>{
                       {"Read Send", "#1a8\r"},
                       {"Read Receive", ""},
                       {"Read Send", "#1a8\r"},
                       {"Read Receive", std::string(">1a8\x01\x01\x02\x03\x04", 9)}}));
}

}  // namespace
}  // namespace tarvo::test
