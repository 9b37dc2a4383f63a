// The pxr5100 model's side of the scan and block-read exchanges: which
// commands it takes and the exact bytes it answers.
#include <string>

#include "gtest/gtest.h"
#include "sim/bytes.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

std::string Answer(Module& module, const std::string& command) {
  const std::vector<Chunk> chunks = module.Respond(ToBytes(command), 0);
  std::string text;
  for (const Chunk& chunk : chunks) {
    EXPECT_EQ(chunk.delayMs, 0);
    text += ToText(chunk.bytes);
  }
  return text;
}

// Module 10 ("0a"): channel 1 holds points 9 and 5 (set in that order),
// channel 3 none, channel 7 all 64.
class Pxr5100Answers : public ::testing::Test {
 protected:
  Pxr5100Answers() {
    module.SetRecord(1, 9, {0x91, 0x01, 0x12, 0x34});
    module.SetRecord(1, 5, {0x32, 0x00, 0x0C, 0x10});
    for (int p = 0; p < 64; ++p) {
      module.SetRecord(7, p, {static_cast<uint8_t>(p), 0xAA, 0xBB, static_cast<uint8_t>(255 - p)});
    }
  }
  Pxr5100Module module{10};
};

TEST_F(Pxr5100Answers, ScanListsThePresentPointsAscending) {
  EXPECT_EQ(Answer(module, "*0a1\r"), ">0a1\x02\x05\x09\r"s);
  EXPECT_EQ(Answer(module, "*0a3\r"), ">0a3\x00\r"s);
  std::string all = ">0a7\x40"s;
  for (int p = 0; p < 64; ++p) all += static_cast<char>(p);
  EXPECT_EQ(Answer(module, "*0a7\r"), all + "\r");
}

TEST_F(Pxr5100Answers, BlockReadCarriesTheRecordsInPointOrder) {
  EXPECT_EQ(Answer(module, "#0a1\r"), ">0a1\x02\x32\x00\x0C\x10\x91\x01\x12\x34"s);
  EXPECT_EQ(Answer(module, "#0a3\r"), ">0a3\x00"s);
  std::string all = ">0a7\x40"s;
  for (int p = 0; p < 64; ++p)
    all += std::string{static_cast<char>(p), '\xAA', '\xBB'} + static_cast<char>(255 - p);
  EXPECT_EQ(Answer(module, "#0a7\r"), all);
}

TEST_F(Pxr5100Answers, FollowsChangedPointsAndRecords) {
  module.RemovePoint(1, 5);
  module.SetRecord(1, 9, {1, 2, 3, 4});
  module.SetRecord(1, 63, {5, 6, 7, 8});
  EXPECT_EQ(Answer(module, "*0a1\r"), ">0a1\x02\x09\x3F\r"s);
  EXPECT_EQ(Answer(module, "#0a1\r"), ">0a1\x02\x01\x02\x03\x04\x05\x06\x07\x08"s);
}

TEST_F(Pxr5100Answers, TakesButLeavesUnansweredAChannelItLacks) {
  for (const char* command : {"*0a8\r", "#0a9\r", "#0a/\r", "*0ax\r"}) {
    const Frame frame = module.FrameCommand(ToBytes(command));
    EXPECT_EQ(frame.status, FrameStatus::kComplete) << command;
    EXPECT_EQ(Answer(module, command), "") << command;
  }
}

struct FrameCase {
  const char* head;
  FrameStatus status;
  size_t length;
};

class Pxr5100Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Pxr5100Framing, TakesOnlyItsOwnCommands) {
  const Pxr5100Module module(10);
  const FrameCase& c = GetParam();
  const Frame frame = module.FrameCommand(ToBytes(c.head));
  EXPECT_EQ(frame.status, c.status) << ToText(ToBytes(c.head));
  EXPECT_EQ(frame.length, c.length);
}

constexpr FrameStatus kMine = FrameStatus::kComplete;
constexpr FrameStatus kMore = FrameStatus::kIncomplete;
constexpr FrameStatus kNot = FrameStatus::kNotMine;

INSTANTIATE_TEST_SUITE_P(
    Heads, Pxr5100Framing,
    ::testing::Values(FrameCase{"*0a1\r", kMine, 5}, FrameCase{"#0a7\r", kMine, 5},
                      FrameCase{"#0a7\r*0a1\r", kMine, 5}, FrameCase{"*", kMore, 0},
                      FrameCase{"#0", kMore, 0}, FrameCase{"*0a", kMore, 0},
                      FrameCase{"*0a1", kMore, 0},
                      // Upper-case digits are another module's ("%02x" on the wire).
                      FrameCase{"*0A1\r", kNot, 0}, FrameCase{"#0A", kNot, 0},
                      FrameCase{"*0b1\r", kNot, 0}, FrameCase{"*1", kNot, 0},
                      FrameCase{"*0a1x", kNot, 0}, FrameCase{"$0a6\r", kNot, 0},
                      FrameCase{">0a1\r", kNot, 0}, FrameCase{"\r", kNot, 0}),
    [](const auto& info) { return "Head" + std::to_string(info.index); });

TEST(Pxr5100Address, DigitsAreTwoLowercaseHexDigits) {
  Pxr5100Module low(0);
  Pxr5100Module high(127);
  low.SetRecord(0, 0, {1, 2, 3, 4});
  EXPECT_EQ(Answer(low, "*000\r"), ">000\x01\x00\r"s);
  EXPECT_EQ(high.FrameCommand(ToBytes("#7f0\r")).status, FrameStatus::kComplete);
  EXPECT_EQ(high.FrameCommand(ToBytes("#7F0\r")).status, FrameStatus::kNotMine);
  EXPECT_EQ(Answer(high, "#7f0\r"), ">7f0\x00"s);
}

TEST(Pxr5100Address, RefusesNumbersOutsideItsRanges) {
  EXPECT_THROW(Pxr5100Module(256), std::out_of_range);
  EXPECT_THROW(Pxr5100Module(-1), std::out_of_range);
  Pxr5100Module module(1);
  EXPECT_THROW(module.SetRecord(8, 0, {}), std::out_of_range);
  EXPECT_THROW(module.SetRecord(0, 64, {}), std::out_of_range);
  EXPECT_THROW(module.SetRecord(-1, 0, {}), std::out_of_range);
  EXPECT_THROW(module.Points(8), std::out_of_range);
}

}  // namespace
}  // namespace tarvo::sim
