// The pxr5760 output write on the fake line: the command bytes, the shared
// refresh gate, the three passes, and every failure with its code.
#include <string>
#include <utility>
#include <vector>

#include "driver/trace.h"
#include "unit/pxr5760/driver_fixture.h"

namespace tarvo::test {
namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// Point 5 of channel 2 with output byte 0x81.
class Pxr5760Write : public Pxr5760Driver {
 protected:
  Pxr5760Write() { module.SetRecord(2, 5, {0x00, 0x00, 0x81, 0x00}); }
  // Scans, block-reads (the driver learns b2 = 0x81) and waits for the gate.
  void LearnOutputs() {
    ScanAndOpenGate();
    ASSERT_EQ(Read("DO26.2.5.0").result, 1);
    AwaitGate(2000);
    ClearLog();
  }
  size_t WritesSent() const { return bus.log().Count("/1a"); }
};

struct Command {
  const char* address;
  uint32_t value;
  const char* bytes;
};

class Pxr5760WriteCommand : public Pxr5760Write, public ::testing::WithParamInterface<Command> {};

TEST_P(Pxr5760WriteCommand, ChangesOneBitOfTheLastKnownOutputByte) {
  const Command& c = GetParam();
  LearnOutputs();
  const size_t before = line().writes().size();
  const Outcome out = Write(c.address, c.value);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.code, ErrOk);
  ASSERT_EQ(line().writes().size(), before + 1);
  EXPECT_EQ(line().writes().back().bytes, Bytes(c.bytes));
  EXPECT_EQ(module.Records(2, 5)[0][2], std::stoi(std::string(c.bytes).substr(6, 2), nullptr, 16));
}

INSTANTIATE_TEST_SUITE_P(Bits, Pxr5760WriteCommand,
                         ::testing::Values(Command{"DO26.2.5.3", 1, "/1a20589\r"},
                                           Command{"DO26.2.5.7", 0, "/1a20501\r"},
                                           Command{"DO26.2.5.0", 2, "/1a20580\r"},
                                           Command{"DO26.2.5.0", 0xFFFFFFFF, "/1a20580\r"},
                                           Command{"DO26.2.5.1", 1, "/1a20583\r"},
                                           Command{"DO26.2.5.0", 1, "/1a20581\r"},
                                           Command{"do26.2.5.6", 1, "/1a205c1\r"}));

TEST_F(Pxr5760Write, FormatsModuleChannelAndPointDigits) {
  auto& other = bus.Emplace<sim::Pxr5760Module>(0x7F);
  other.SetRecord(7, 31, {0, 0, 0, 0});
  other.SetRecord(0, 9, {0, 0, 0, 0});
  clock().Advance(2000);
  EXPECT_EQ(Write("DO127.7.31.4", 1).result, 1);
  EXPECT_EQ(line().writes().back().bytes, Bytes("/7f73110\r"));
  EXPECT_EQ(Write("DO127.0.9.0", 1).code, ErrReadData);  // same module: gate shut
  AwaitGate(2000);
  EXPECT_EQ(Write("DO127.0.9.0", 1).result, 1);
  EXPECT_EQ(line().writes().back().bytes, Bytes("/7f00901\r"));
}

TEST_F(Pxr5760Write, RightAfterConstructionTheGateIsShut) {
  const Outcome out = Write("DO26.2.5.3", 1);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_TRUE(line().writes().empty());
  EXPECT_TRUE(clock().sleeps().empty());
}

TEST_F(Pxr5760Write, AModuleNeverReadStartsFromZero) {
  clock().Advance(2000);
  EXPECT_EQ(Write("DO26.2.5.3", 1).result, 1);
  EXPECT_EQ(line().writes().back().bytes, Bytes("/1a20508\r"));
  EXPECT_TRUE(bus.log().Count("*1a") == 0 && bus.log().Count("#1a") == 0);
}

TEST_F(Pxr5760Write, TwoWritesToOnePointBuildOnEachOther) {
  clock().Advance(2000);
  EXPECT_EQ(Write("DO26.2.5.0", 1).result, 1);
  // Within the same gate window: refused at once, nothing sent.
  const Outcome out = Write("DO26.2.5.1", 1);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  EXPECT_EQ(WritesSent(), 1u);
  AwaitGate(2000);
  EXPECT_EQ(Write("DO26.2.5.1", 1).result, 1);
  EXPECT_EQ(bus.log().Commands(), (std::vector<std::string>{"/1a20501\r", "/1a20503\r"}));
  EXPECT_EQ(module.Records(2, 5)[0][2], 0x03);
}

TEST_F(Pxr5760Write, TheAcknowledgedByteIsWhatAFreshOutputBitReads) {
  LearnOutputs();
  ASSERT_EQ(Write("DO26.2.5.3", 1).result, 1);
  const Outcome out = Read("DO26.2.5.3");  // still fresh from the block read
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.value.DiscreteValue, 1u);
}

TEST_F(Pxr5760Write, SharesTheGateWithBlockReads) {
  ScanAndOpenGate();
  ASSERT_EQ(Read("DO26.2.5.0").result, 1);
  // A block read just used the gate: the write is refused without a pass.
  const size_t sleeps = clock().sleeps().size();
  EXPECT_EQ(Write("DO26.2.5.3", 1).code, ErrReadData);
  EXPECT_EQ(WritesSent(), 0u);
  EXPECT_EQ(clock().sleeps().size(), sleeps);

  AwaitGate(2000);
  ASSERT_EQ(Write("DO26.2.5.3", 1).result, 1);
  // The write used the gate: a value needing a block read must wait.
  EXPECT_EQ(Read("DO26.2.5.0").code, ErrDelayNotElapsed);
  EXPECT_EQ(bus.log().Count("#1a8"), 1u);
}

TEST_F(Pxr5760Write, OnlyOutputItemsAreWritten) {
  clock().Advance(2000);
  for (const char* address :
       {"TA26.2.5", "HB26.2.5", "KT26.2.5", "LT26.2.5.3", "DI26.2.5.3", "AD26.2.5.3"}) {
    const Outcome out = Write(address, 1);
    EXPECT_EQ(out.result, 0) << address;
    EXPECT_EQ(out.code, ErrRegisterUnsupported) << address;
  }
  EXPECT_TRUE(line().writes().empty());
  EXPECT_EQ(Write("DO26.2.5.3", 1).result, 1);  // the gate was not touched
}

TEST_F(Pxr5760Write, ItemsOutsideTheTablesAreRefused) {
  clock().Advance(2000);
  const std::pair<IoItem, int32_t> cases[] = {
      {Item("DO26.2.32.0"), ErrPointNumber},
      {Item("DO26.2.63.0"), ErrPointNumber},
      {Item("DO26.2.5.8"), ErrRegisterName},
      {Item("DO26.2.5.65535"), ErrRegisterName},
      {[&] {
         IoItem item = Item("DO26.2.5.0");
         item.ModuleAddress = 128;
         return item;
       }(),
       ErrModuleAddress},
      {[&] {
         IoItem item = Item("DO26.2.5.0");
         item.Channel = 8;
         return item;
       }(),
       ErrChannel},
  };
  for (const auto& [item, code] : cases) {
    const Outcome out = WriteItem(item, 1);
    EXPECT_EQ(out.result, 0);
    EXPECT_EQ(out.code, code);
  }
  EXPECT_TRUE(line().writes().empty());
}

TEST_F(Pxr5760Write, AnUnansweredPassUsesUpTheGate) {
  module.SetFaults({.silent = true});
  clock().Advance(2000);
  const Outcome out = Write("DO26.2.5.3", 1);
  EXPECT_EQ(out.result, 0);
  EXPECT_EQ(out.code, ErrReadData);
  // One pass: three sends, three reads with their pauses; the other passes
  // found the gate shut (3.8 s is one whole second after it opened).
  EXPECT_EQ(WritesSent(), 3u);
  EXPECT_EQ(clock().sleeps(), (std::vector<uint32_t>{100, 500, 100, 500, 100, 500}));
}

TEST_F(Pxr5760Write, APassWritesAgainWhenTheGateHasReopened) {
  module.SetFaults({.silent = true});
  clock().Advance(2900);
  EXPECT_EQ(Write("DO26.2.5.3", 1).code, ErrReadData);
  EXPECT_EQ(WritesSent(), 9u);
  EXPECT_EQ(line().writes()[3].atMs, 4700);
  EXPECT_EQ(line().writes()[6].atMs, 6500);
}

TEST_F(Pxr5760Write, ALaterPassCanSucceed) {
  module.SetFaults({.silent = true}, 3);
  clock().Advance(2900);
  const Outcome out = Write("DO26.2.5.3", 1);
  EXPECT_EQ(out.result, 1);
  EXPECT_EQ(out.code, ErrOk);
  EXPECT_EQ(WritesSent(), 4u);
}

TEST_F(Pxr5760Write, AReplyWithAnotherHeadIsNoAcknowledgement) {
  for (const sim::Faults& faults : {sim::Faults{.head = '>'}, sim::Faults{.fromAddress = 27},
                                    sim::Faults{.swapAddressCase = true}}) {
    NewDriver();
    module.SetFaults(faults);
    AwaitGate(clock().NowMs());
    ClearLog();
    EXPECT_EQ(Write("DO26.2.5.3", 1).code, ErrReadData);
    EXPECT_EQ(WritesSent(), 1u);
  }
}

struct WriteFault {
  const char* name;
  FakeOp op;
  int call;  // counted from the write's first call of that operation
  bool silent;
  int32_t result;
  int32_t code;
  size_t commandsSent;
};

class Pxr5760WriteFault : public Pxr5760Write, public ::testing::WithParamInterface<WriteFault> {};

TEST_P(Pxr5760WriteFault, EndsWithItsCode) {
  const WriteFault& c = GetParam();
  clock().Advance(2000);
  if (c.silent) module.SetFaults({.silent = true});
  line().FailNext(c.op, c.call);
  const Outcome out = Write("DO26.2.5.3", 1);
  EXPECT_EQ(out.result, c.result);
  EXPECT_EQ(out.code, c.code);
  EXPECT_EQ(WritesSent(), c.commandsSent);
  // Unacknowledged, the byte was not taken as the point's output byte.
  module.ClearFaults();
  AwaitGate(clock().NowMs());
  ASSERT_EQ(Write("DO26.2.5.0", 1).result, 1);
  EXPECT_EQ(line().writes().back().bytes, Bytes("/1a20501\r"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, Pxr5760WriteFault,
    ::testing::Values(
        // The pass ends quietly; the gate then stays shut for the others.
        WriteFault{"ClearError", FakeOp::ClearError, 1, false, 0, ErrReadData, 0},
        WriteFault{"CommandWrite", FakeOp::Write, 1, false, 0, ErrPortWrite, 0},
        WriteFault{"RepeatedCommandWrite", FakeOp::Write, 2, true, 0, ErrPortWrite, 1},
        WriteFault{"Read", FakeOp::Read, 1, false, 0, ErrPortRead, 1},
        WriteFault{"ReadAfterARepeat", FakeOp::Read, 2, true, 0, ErrPortRead, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Pxr5760Write, TrafficGoesToTheTraceHandler) {
  std::vector<std::pair<std::string, std::string>> seen;
  SetTraceHandler(
      [](void* context, const char* label, const uint8_t* bytes, int32_t count) {
        static_cast<decltype(seen)*>(context)->emplace_back(
            label, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count)));
      },
      &seen);
  module.SetFaults({.silent = true}, 1);
  clock().Advance(2000);
  EXPECT_EQ(Write("DO26.2.5.3", 1).result, 1);
  SetTraceHandler(nullptr, nullptr);
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{{"Write Send", "/1a20508\r"},
                                                                    {"Write Receive", ""},
                                                                    {"Write Send", "/1a20508\r"},
                                                                    {"Write Receive", "!1a\r"}}));
}

}  // namespace
}  // namespace tarvo::test
