// The transfer primitives over a fake line: what goes on the wire, what
// comes back when, and what every failure leaves behind.
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver_base.h"
#include "gtest/gtest.h"
#include "serial/device.h"
#include "serial/port.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::serial {
namespace {

using test::FakeOp;
using Bytes = std::vector<uint8_t>;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A module that answers every write with the given pieces.
sim::PeerFunction Answer(std::vector<sim::Chunk> reply) {
  return [reply](const uint8_t*, size_t, int64_t) { return reply; };
}

class PortTransfer : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(OpenError(port_.Open(&host_.config)), ErrOk); }
  void TearDown() override {
    port_.Close();
    EXPECT_EQ(line().usesAfterClose(), 0);
  }

  test::FakeLine& line() { return serial_.line(1); }
  test::FakeClock& clock() { return serial_.clock(); }
  bool Send(const std::string& command, int32_t timeoutMs = 30) {
    const Bytes bytes = Text(command);
    return port_.Write(bytes.data(), static_cast<int32_t>(bytes.size()), timeoutMs);
  }
  // Reads into a buffer of capacity bytes followed by guard bytes; returns
  // what was read, and checks the guard and the untouched rest.
  Bytes Receive(size_t capacity, int32_t timeoutMs, bool sleep = true, bool* ok = nullptr) {
    std::vector<uint8_t> buffer(capacity + 8, 0xEE);
    uint32_t count = 12345;
    const bool done = sleep ? port_.Read(buffer.data(), capacity, timeoutMs, &count)
                            : port_.ReadNoSleep(buffer.data(), capacity, timeoutMs, &count);
    if (ok != nullptr) *ok = done;
    if (!done) {
      EXPECT_EQ(count, 12345u) << "the count is not written by a failed read";
      count = 0;
    }
    EXPECT_LE(count, capacity);
    for (size_t i = count; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "byte " << i;
    return Bytes(buffer.begin(), buffer.begin() + count);
  }

  test::FakeSerial serial_;
  test::HostPort host_{1, "300"};
  Port port_;
};

TEST_F(PortTransfer, WritePurgesBothDirectionsThenSendsTheCommand) {
  line().Deliver(Text("stale"));
  line().Deliver(Text("late"), 50);  // still on its way
  ASSERT_TRUE(Send("#051\r"));
  ASSERT_EQ(line().purges(), (std::vector<uint32_t>{kPurgeAll}));
  ASSERT_EQ(line().writes().size(), 1u);
  EXPECT_EQ(line().writes()[0].bytes, Text("#051\r"));
  EXPECT_EQ(line().writes()[0].atMs, 0);
  // Only what had arrived was dropped.
  EXPECT_EQ(line().arrived(), 0u);
  EXPECT_EQ(Receive(64, 100), Text("late"));
}

TEST_F(PortTransfer, WriteNoPurgeKeepsEarlierInputInFrontOfTheReply) {
  line().SetPeer(Answer({{20, Text(">01")}}));
  line().Deliver(Text("old"));
  const Bytes command = Text("$016\r");
  ASSERT_TRUE(port_.WriteNoPurge(command.data(), 5, 200));
  EXPECT_TRUE(line().purges().empty());
  EXPECT_EQ(Receive(300, 200), Text("old>01"));
}

TEST_F(PortTransfer, ReadSleepsTheTimeOutThenTakesTheWholeReply) {
  line().SetPeer(Answer({{0, Text(">05")}, {299, Text("1234\r")}}));
  ASSERT_TRUE(Send("#051\r"));
  EXPECT_EQ(Receive(2048, 300), Text(">051234\r"));
  EXPECT_EQ(clock().sleeps(), (std::vector<uint32_t>{300}));
  EXPECT_EQ(clock().NowMs(), 300);
}

TEST_F(PortTransfer, AReplyStillArrivingIsReturnedAsFarAsItCame) {
  line().SetPeer(Answer({{50, Text(">05AB")}, {450, Text("CD\r")}}));
  ASSERT_TRUE(Send("#051\r"));
  EXPECT_EQ(Receive(2048, 300), Text(">05AB"));
  EXPECT_EQ(line().inFlight(), 3u);
  // The rest arrives later and waits in the queue.
  clock().Advance(200);
  EXPECT_EQ(Receive(2048, 100, false), Text("CD\r"));
  EXPECT_EQ(clock().sleeps(), (std::vector<uint32_t>{300}));
}

TEST_F(PortTransfer, ALateReplyIsDroppedByTheNextWrite) {
  line().SetPeer(Answer({{400, Text(">05late\r")}}));
  ASSERT_TRUE(Send("#051\r"));
  EXPECT_EQ(Receive(2048, 300), Bytes{});
  clock().Advance(200);
  line().SetPeer(Answer({{10, Text(">05new\r")}}));
  ASSERT_TRUE(Send("#051\r"));
  EXPECT_EQ(Receive(2048, 300), Text(">05new\r"));
}

TEST_F(PortTransfer, NoAnswerReadsNothingAfterOneTimeOut) {
  ASSERT_TRUE(Send("#051\r"));
  bool ok = false;
  EXPECT_EQ(Receive(2048, 300, true, &ok), Bytes{});
  EXPECT_TRUE(ok);
  EXPECT_EQ(clock().NowMs(), 300);
  // The device was asked for a read of nothing.
  EXPECT_EQ(line().calls(FakeOp::Read), 1);
}

TEST_F(PortTransfer, ReadsNeverExceedTheBuffer) {
  line().Deliver(Text("0123456789"));
  EXPECT_EQ(Receive(4, 0), Text("0123"));
  EXPECT_EQ(Receive(4, 0), Text("4567"));
  EXPECT_EQ(Receive(4, 0), Text("89"));
  EXPECT_EQ(Receive(0, 0), Bytes{});
}

TEST_F(PortTransfer, AnOverstatedQueuedCountReadsWhatIsThere) {
  line().OverstateQueue(300);
  line().Deliver(Text("abc"));
  EXPECT_EQ(Receive(8, 100), Text("abc"));
  EXPECT_EQ(Receive(8, 100), Bytes{});
}

TEST_F(PortTransfer, PurgeInputDropsOnlyWhatHasArrived) {
  line().Deliver(Text("old"));
  line().Deliver(Text("new"), 10);
  port_.PurgeInput();
  EXPECT_EQ(line().purges(), (std::vector<uint32_t>{kPurgeRxAbort | kPurgeRxClear}));
  EXPECT_EQ(Receive(16, 10), Text("new"));
  line().Deliver(Text("more"));
  port_.Purge();
  EXPECT_EQ(line().purges().back(), kPurgeAll);
  EXPECT_EQ(Receive(16, 0), Bytes{});
}

TEST_F(PortTransfer, DeviceFailuresFailThePrimitive) {
  struct Case {
    const char* name;
    FakeOp op;
    bool writeOk;
    bool readOk;
  };
  const Case cases[] = {
      {"write", FakeOp::Write, false, true},
      {"clear-error", FakeOp::ClearError, true, false},
      {"read", FakeOp::Read, true, false},
      // The purge's result is not looked at.
      {"purge", FakeOp::Purge, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    line().SetPeer(Answer({{0, Text(">05\r")}}));
    line().FailNext(c.op);
    EXPECT_EQ(Send("#051\r"), c.writeOk);
    line().FailNext(c.op);
    bool ok = !c.readOk;
    const Bytes got = Receive(64, 100, true, &ok);
    EXPECT_EQ(ok, c.readOk);
    if (c.readOk) {
      EXPECT_EQ(got, c.writeOk ? Text(">05\r") : Bytes{});
    }
    line().Heal(c.op);
    port_.Purge();
  }
  // A failed write never reached the module.
  EXPECT_EQ(line().writes().size(), 3u);
}

TEST_F(PortTransfer, AFailingLineStaysFailedUntilItRecovers) {
  line().FailFrom(FakeOp::ClearError, 2);
  EXPECT_TRUE(port_.ClearError());
  EXPECT_FALSE(port_.ClearError());
  EXPECT_FALSE(port_.ClearError());
  bool ok = true;
  Receive(16, 0, false, &ok);
  EXPECT_FALSE(ok);
  line().Heal(FakeOp::ClearError);
  EXPECT_TRUE(port_.ClearError());
}

TEST_F(PortTransfer, BadArgumentsFailWithoutTouchingTheLine) {
  EXPECT_FALSE(port_.Write(nullptr, 5, 30));
  const uint8_t byte = 'x';
  EXPECT_FALSE(port_.Write(&byte, -1, 30));
  EXPECT_FALSE(port_.WriteNoPurge(nullptr, 1, 30));
  uint32_t count = 9;
  EXPECT_FALSE(port_.ReadNoSleep(nullptr, 4, 30, &count));
  EXPECT_EQ(count, 9u);
  EXPECT_EQ(line().calls(FakeOp::Write), 0);
  EXPECT_EQ(line().calls(FakeOp::ClearError), 0);
  // An empty write is a write; a read without a count pointer still reads.
  EXPECT_TRUE(port_.WriteNoPurge(nullptr, 0, 30));
  line().Deliver(Text("ab"));
  uint8_t buffer[4] = {};
  EXPECT_TRUE(port_.ReadNoSleep(buffer, sizeof buffer, 30, nullptr));
  EXPECT_EQ(buffer[0], 'a');
  // A negative time-out is no wait at all.
  EXPECT_TRUE(port_.Read(buffer, sizeof buffer, -5, &count));
  EXPECT_EQ(clock().sleeps(), (std::vector<uint32_t>{0}));
}

TEST(PortTransferWithoutLine, FailsAfterTheUsualWait) {
  test::FakeSerial serial;
  Port port;
  const uint8_t byte = 'x';
  uint8_t buffer[4];
  uint32_t count = 5;
  EXPECT_FALSE(port.Write(&byte, 1, 30));
  EXPECT_FALSE(port.WriteNoPurge(&byte, 1, 30));
  EXPECT_FALSE(port.Read(buffer, sizeof buffer, 100, &count));
  EXPECT_FALSE(port.ReadNoSleep(buffer, sizeof buffer, 100, &count));
  EXPECT_FALSE(port.ClearError());
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(serial.clock().sleeps(), (std::vector<uint32_t>{100}));
}

}  // namespace
}  // namespace tarvo::serial
