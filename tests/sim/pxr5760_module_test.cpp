// The pxr5760 model's side of the scan, block-read and output exchanges:
// which commands it takes and the exact bytes it answers.
#include <string>

#include "gtest/gtest.h"
#include "sim/bytes.h"
#include "sim/pxr5760/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

std::string Answer(Module& module, const std::string& command) {
  std::string text;
  for (const Chunk& chunk : module.Respond(ToBytes(command), 0)) text += ToText(chunk.bytes);
  return text;
}

// Module 26 ("1a"): channel 0 point 3, channel 2 points 9 and 0 (set in that
// order, point 0 multiplexing sub-channels 5 and 2).
class Pxr5760Answers : public ::testing::Test {
 protected:
  Pxr5760Answers() {
    module.SetRecord(0, 3, {0x01, 0x02, 0x03, 0x04});
    module.SetRecord(2, 9, {0x11, 0x12, 0x81, 0x14});
    module.SetRecords(2, 0, {{0x0B, 0xFF, 0xA3, 0x00}, {0x0B, 0x10, 0x41, 0x00}});
  }
  Pxr5760Module module{26};
};

TEST_F(Pxr5760Answers, ScanListsThePresentPointsAscending) {
  EXPECT_EQ(Answer(module, "*1a0\r"), ">1a0\x01\x03\r"s);
  EXPECT_EQ(Answer(module, "*1a2\r"), ">1a2\x02\x00\x09\r"s);
  EXPECT_EQ(Answer(module, "*1a7\r"), ">1a7\x00\r"s);
}

TEST_F(Pxr5760Answers, BlockReadsRotateThroughAPointsSubChannels) {
  const std::string first = ">1a8\x03\x01\x02\x03\x04\x0B\xFF\xA3\x00\x11\x12\x81\x14"s;
  const std::string second = ">1a8\x03\x01\x02\x03\x04\x0B\x10\x41\x00\x11\x12\x81\x14"s;
  EXPECT_EQ(Answer(module, "#1a8\r"), first);
  EXPECT_EQ(Answer(module, "#1a8\r"), second);
  EXPECT_EQ(Answer(module, "#1a8\r"), first);
  EXPECT_EQ(module.blockReads(), 3);
}

TEST_F(Pxr5760Answers, SilentBlockReadsStillTurnTheMultiplexer) {
  module.SetFaults({.silent = true}, 1);
  EXPECT_EQ(Answer(module, "#1a8\r"), "");
  EXPECT_EQ(Answer(module, "#1a8\r"), ">1a8\x03\x01\x02\x03\x04\x0B\x10\x41\x00\x11\x12\x81\x14"s);
}

TEST_F(Pxr5760Answers, OutputWriteSetsTheOutputByteAndAcknowledges) {
  EXPECT_EQ(Answer(module, "/1a209A5\r"), "!1a\r");
  EXPECT_EQ(module.Records(2, 9)[0], (RawRecord{0x11, 0x12, 0xA5, 0x14}));
  EXPECT_EQ(Answer(module, "/1a200c0\r"), "!1a\r");
  EXPECT_EQ(module.Records(2, 0)[0][2], 0xC0);
  EXPECT_EQ(module.Records(2, 0)[1][2], 0xC0);
  EXPECT_EQ(Answer(module, "#1a8\r"), ">1a8\x03\x01\x02\x03\x04\x0B\xFF\xC0\x00\x11\x12\xA5\x14"s);
}

TEST_F(Pxr5760Answers, TakesButLeavesUnansweredWhatItLacks) {
  for (const char* command : {"*1a8\r", "#1a0\r", "#1a9\r", "/1a210ff\r", "/1a832ff\r",
                              "/1a2x9ff\r", "/1a209g0\r", "/1a8000f\r"}) {
    EXPECT_EQ(module.FrameCommand(ToBytes(command)).status, FrameStatus::kComplete) << command;
    EXPECT_EQ(Answer(module, command), "") << command;
  }
  EXPECT_EQ(module.Records(2, 9)[0][2], 0x81);
}

TEST_F(Pxr5760Answers, PointListFaultsReachTheScanAnswer) {
  module.SetFaults({.extraPoint = 40, .pointTwice = true});
  EXPECT_EQ(Answer(module, "*1a2\r"), ">1a2\x04\x00\x09\x00\x28\r"s);
  module.SetFaults({.fromAddress = 27});
  EXPECT_EQ(Answer(module, "/1a209A5\r"), "!1b\r");
}

struct FrameCase {
  const char* head;
  FrameStatus status;
  size_t length;
};

class Pxr5760Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Pxr5760Framing, TakesOnlyItsOwnCommands) {
  const Pxr5760Module module(26);
  const FrameCase& c = GetParam();
  const Frame frame = module.FrameCommand(ToBytes(c.head));
  EXPECT_EQ(frame.status, c.status) << c.head;
  EXPECT_EQ(frame.length, c.length) << c.head;
}

INSTANTIATE_TEST_SUITE_P(
    Heads, Pxr5760Framing,
    ::testing::Values(FrameCase{"#1a8\r", FrameStatus::kComplete, 5},
                      FrameCase{"*1a3\rrest", FrameStatus::kComplete, 5},
                      FrameCase{"/1a20589\r", FrameStatus::kComplete, 9},
                      // An output byte of CR inside the command does not end it.
                      FrameCase{"/1a2050\r\r", FrameStatus::kComplete, 9},
                      FrameCase{"/1a2058", FrameStatus::kIncomplete, 0},
                      FrameCase{"/1a20589x", FrameStatus::kNotMine, 0},
                      FrameCase{"#1A8\r", FrameStatus::kNotMine, 0},
                      FrameCase{"#1b8\r", FrameStatus::kNotMine, 0},
                      FrameCase{"$1a8\r", FrameStatus::kNotMine, 0}));

TEST(Pxr5760Model, RefusesPointsOutsideItsChannels) {
  Pxr5760Module module(1);
  EXPECT_THROW(module.SetRecord(8, 0, {}), std::out_of_range);
  EXPECT_THROW(module.SetRecord(0, 32, {}), std::out_of_range);
  EXPECT_THROW(module.SetRecords(0, 0, {}), std::out_of_range);
  EXPECT_THROW(module.Points(-1), std::out_of_range);
}

}  // namespace
}  // namespace tarvo::sim
