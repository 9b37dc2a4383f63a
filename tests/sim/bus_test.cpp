// The bus: framing of the byte stream over every split, garbage and
// commands for absent modules dropped, several families on one line, the
// exchange log, and the bus as a line's peer.
#include "sim/bus.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

// A family with upper-case addresses and a fixed-length command whose third
// byte is raw and may be CR: "/" AA b CR, answered "!" AA b CR.
class RawByteModule final : public Module {
 public:
  using Module::Module;
  std::string_view family() const override { return "rawbyte"; }
  Frame FrameCommand(std::span<const uint8_t> head) const override {
    static constexpr CommandShape kShapes[] = {{'/', 5}};
    return FrameAddressed(head, kShapes, HexAddress(address(), HexCase::kUpper));
  }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults&, int64_t) override {
    Bytes answer(command.begin(), command.end());
    answer[0] = '!';
    return answer;
  }
  AddressForm addressForm() const override { return {.offset = 1, .letterCase = HexCase::kUpper}; }
};

// A module that never makes up its mind: the bus must not wait for it forever.
class UndecidedModule final : public Module {
 public:
  using Module::Module;
  std::string_view family() const override { return "undecided"; }
  Frame FrameCommand(std::span<const uint8_t>) const override {
    return {FrameStatus::kIncomplete, 0};
  }

 protected:
  Bytes Answer(std::span<const uint8_t>, const Faults&, int64_t) override { return {}; }
};

std::string Feed(Bus& bus, const std::string& bytes, int64_t nowMs = 0) {
  std::string answers;
  for (const Chunk& chunk :
       bus.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), nowMs)) {
    answers += ToText(chunk.bytes);
  }
  return answers;
}

// Module 10 (pxr5100, point 5 on channel 1), module 5 (pxr5100, no
// points) and module 11 (raw-byte family) on one bus.
void Populate(Bus& bus) {
  bus.Emplace<Pxr5100Module>(10).SetRecord(1, 5, {1, 2, 3, 4});
  bus.Emplace<Pxr5100Module>(5);
  bus.Emplace<RawByteModule>(11);
}

// Commands and garbage; the garbage includes an upper-case address of
// module 10, a command for absent module 12 and a partial command.
const std::string kStream =
    "*0a1\r"
    "#051\r"
    "xx\r"
    "/0B\r\r"
    "*0A1\r"
    "*0c0\r"
    "#0a"
    "#0a1\r"
    "/0B\x7f\r"s;
const std::string kAnswers =
    ">0a1\x01\x05\r"
    ">051\x00"
    "!0B\r\r"
    ">0a1\x01\x01\x02\x03\x04"
    "!0B\x7f\r"s;
const std::vector<std::string> kCommands = {"*0a1\r", "#051\r", "/0B\r\r", "#0a1\r", "/0B\x7f\r"s};
const std::string kDropped = "xx\r*0A1\r*0c0\r#0a";

void ExpectServed(Bus& bus, const std::string& answers, const std::string& split) {
  EXPECT_EQ(answers, kAnswers) << split;
  EXPECT_EQ(bus.log().Commands(), kCommands) << split;
  EXPECT_EQ(ToText(bus.log().Dropped()), kDropped) << split;
  EXPECT_EQ(bus.pendingBytes(), 0u) << split;
}

TEST(BusFraming, OnePiece) {
  Bus bus;
  Populate(bus);
  ExpectServed(bus, Feed(bus, kStream), "one piece");
}

TEST(BusFraming, ByteByByte) {
  Bus bus;
  Populate(bus);
  std::string answers;
  for (char c : kStream) answers += Feed(bus, std::string(1, c));
  ExpectServed(bus, answers, "byte by byte");
}

TEST(BusFraming, EverySplitInTwoAndThree) {
  for (size_t i = 1; i < kStream.size(); ++i) {
    for (size_t j = i; j < kStream.size(); ++j) {
      Bus bus;
      Populate(bus);
      std::string answers = Feed(bus, kStream.substr(0, i));
      answers += Feed(bus, kStream.substr(i, j - i));
      answers += Feed(bus, kStream.substr(j));
      ExpectServed(bus, answers, "split at " + std::to_string(i) + ", " + std::to_string(j));
    }
  }
}

TEST(BusFraming, KeepsTheStartOfACommandForTheNextFeed) {
  Bus bus;
  Populate(bus);
  EXPECT_EQ(Feed(bus, "*0a"), "");
  EXPECT_EQ(bus.pendingBytes(), 3u);
  EXPECT_EQ(bus.log().size(), 0u);
  EXPECT_EQ(Feed(bus, "1\r"), ">0a1\x01\x05\r"s);
  EXPECT_EQ(bus.pendingBytes(), 0u);
}

TEST(BusFraming, NeverHoldsMoreThanTheLongestCommand) {
  Bus bus;
  bus.Emplace<UndecidedModule>(1);
  bus.Emplace<Pxr5100Module>(10);
  const std::string noise(3 * Module::kMaxCommandLength, '.');
  EXPECT_EQ(Feed(bus, noise + "#0a0\r"), "");  // the undecided module holds the tail
  EXPECT_LT(bus.pendingBytes(), Module::kMaxCommandLength);
  EXPECT_EQ(bus.log().Dropped().size(), noise.size() + 5 - bus.pendingBytes());
}

TEST(BusModules, OneModulePerAddress) {
  Bus bus;
  Module& module = bus.Emplace<Pxr5100Module>(10);
  EXPECT_EQ(bus.Find(10), &module);
  EXPECT_EQ(bus.Find(11), nullptr);
  EXPECT_THROW(bus.Emplace<RawByteModule>(10), std::invalid_argument);
  bus.Remove(10);
  EXPECT_EQ(bus.Find(10), nullptr);
  EXPECT_EQ(Feed(bus, "*0a1\r"), "");
  EXPECT_EQ(ToText(bus.log().Dropped()), "*0a1\r");
}

TEST(BusLog, RecordsEachExchangeWithItsModuleTimeAndAnswer) {
  Bus bus;
  Populate(bus);
  bus.Find(10)->SetFaults({.delayMs = 40, .pieces = 2});
  Feed(bus, "*0a1\r", 1000);
  Feed(bus, "zz*0a2\r", 1500);
  Feed(bus, "/0B\x01\r", 2000);
  const std::vector<Exchange> log = bus.log().Entries();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].timeMs, 1000);
  EXPECT_EQ(log[0].address, 10);
  EXPECT_EQ(log[0].family, "pxr5100");
  EXPECT_EQ(ToText(log[0].command), "*0a1\r");
  ASSERT_EQ(log[0].answer.size(), 2u);
  EXPECT_EQ(log[0].answer[1].delayMs, 40);
  EXPECT_EQ(ToText(log[0].AnswerBytes()), ">0a1\x01\x05\r"s);
  EXPECT_EQ(log[1].address, Exchange::kNoModule);
  EXPECT_EQ(ToText(log[1].command), "zz");
  EXPECT_EQ(log[1].timeMs, 1500);
  EXPECT_EQ(ToText(log[2].command), "*0a2\r");
  EXPECT_EQ(log[3].family, "rawbyte");
  EXPECT_EQ(ToText(log[3].AnswerBytes()), "!0B\x01\r"s);

  EXPECT_EQ(bus.log().Count("*0a"), 2u);
  EXPECT_EQ(bus.log().Count("*0a1"), 1u);
  EXPECT_EQ(bus.log().Count("#"), 0u);
  EXPECT_EQ(bus.log().Count("zz"), 0u);  // dropped bytes are no command
  EXPECT_EQ(bus.log().CountFor(10), 2u);
  EXPECT_EQ(bus.log().CountFor(11), 1u);
  EXPECT_EQ(bus.log().CountFor(5), 0u);
  bus.log().Clear();
  EXPECT_EQ(bus.log().size(), 0u);
}

TEST(BusLog, KeepsTheNewestEntriesUpToItsCapacityAndTellsAnObserver) {
  Bus bus;
  Populate(bus);
  std::vector<std::string> seen;
  bus.log().SetObserver([&](const Exchange& e) { seen.push_back(ToText(e.command)); });
  bus.log().SetCapacity(2);
  Feed(bus, "*0a0\r*0a1\r*0a2\r");
  EXPECT_EQ(bus.log().Commands(), (std::vector<std::string>{"*0a1\r", "*0a2\r"}));
  EXPECT_EQ(seen, (std::vector<std::string>{"*0a0\r", "*0a1\r", "*0a2\r"}));
}

TEST(BusPeer, ServesALineWithChunksDueAfterTheCommand) {
  Bus bus;
  Populate(bus);
  bus.Find(10)->SetFaults({.delayMs = 250, .pieces = 2, .gapMs = 30});
  PeerFunction peer = bus.Peer();
  const std::string command = "#0a1\r#051\r";
  const std::vector<Chunk> chunks =
      peer(reinterpret_cast<const uint8_t*>(command.data()), command.size(), 77);
  ASSERT_EQ(chunks.size(), 3u);
  EXPECT_EQ(chunks[0].delayMs, 250);
  EXPECT_EQ(ToText(chunks[0].bytes), ">0a1\x01");
  EXPECT_EQ(chunks[1].delayMs, 280);
  EXPECT_EQ(ToText(chunks[1].bytes), "\x01\x02\x03\x04"s);
  EXPECT_EQ(chunks[2].delayMs, 0);
  EXPECT_EQ(ToText(chunks[2].bytes), ">051\x00"s);
}

}  // namespace
}  // namespace tarvo::sim
