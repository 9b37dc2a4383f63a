// The three-channel module scan on the wire: the summary, channel 0's point
// list and the block query, byte for byte, and what the driver learns from
// them (seen through the reads that follow).
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pxr530x/pxr5303.h"
#include "sensor_line.h"
#include "sim/pxr530x/module_5303.h"

namespace tarvo {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

class Scan5303 : public ::testing::Test {
 protected:
  Scan5303() { line.line().SetPeer(script.Peer()); }
  // Lets the refresh gate open again.
  void NextCycle() { line.clock().Advance(2000); }

  test::ScriptedPeer script;
  test::SensorLine<CPxr5303> line;
};

TEST_F(Scan5303, MaskSevenAsksChannelZeroAndFindsChannelOneAfterItsRecords) {
  script.Answer("$056\r", "!0507\x02\x01\x00"s);
  script.Answer("*050\r", ">050\x02\x03\x07\r"s);
  script.Answer("#058\r", ">058\x03"s + "\x32\x00\x0C\x10"s + "\x34\x00\x0C\x10"s +
                              "\x09\x20\x91\x01"s);  // byte 13: channel 1, point 9
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "*050\r", "#058\r"}));
  // Each question: the write, 100 ms, then the read's own 100 ms; the
  // point list and the block query each wait another 100 ms first.
  EXPECT_EQ(line.WriteTimes(), (std::vector<int64_t>{0, 300, 600}));
  EXPECT_EQ(line.Elapsed(), 800);

  NextCycle();
  EXPECT_EQ(line.Value("WA5.1.9"), 25.0625f);
  EXPECT_EQ(line.Value("WB5.1.9"), 16.0f);
  EXPECT_EQ(line.Value("TA5.0.3"), 25.0f);
  EXPECT_EQ(line.Value("TA5.0.7"), 26.0f);
  EXPECT_EQ(line.Writes(3), (Strings{"#058\r"}));
}

TEST_F(Scan5303, MaskFourCountsOnlyChannelTwo) {
  // Count bytes 5 and 6 are not zero, but their channels are not in the mask.
  script.Answer("$056\r", "!0504\x05\x06\x01"s);
  script.Answer("#058\r", ">058\x01\x04\x00\x50\x00"s);
  EXPECT_EQ(line.ReadCode("WA5.2.4"), ErrDelayNotElapsed);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "#058\r"}));
  NextCycle();
  EXPECT_EQ(line.Value("WA5.2.4"), 5.0f);
  NextCycle();
  EXPECT_EQ(line.ReadCode("WA5.2.0"), ErrReadData);
}

TEST_F(Scan5303, OnlyTheLowFourBitsOfTheMaskDigitsCount) {
  script.Answer("$056\r", "!05\xF0\x72\x05\x01\x00"s);  // mask 0x02: channel 1
  script.Answer("#058\r", ">058\x01\x03\x00\x50\x00"s);
  EXPECT_EQ(line.ReadCode("WA5.1.3"), ErrDelayNotElapsed);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "#058\r"}));
  NextCycle();
  EXPECT_EQ(line.Value("WA5.1.3"), 5.0f);
}

TEST_F(Scan5303, AnEmptyPointListAtARescanForgetsChannelZerosPoints) {
  script.Answer("$056\r", "!0503\x01\x01\x00"s);
  script.Answer("*050\r", ">050\x01\x03\r"s);
  // No block answer: the scan fails after marking point 3.
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrInitModule);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "*050\r", "#058\r"}));

  script.Answer("*050\r", ">050\x00\r"s);
  script.Answer("#058\r", ">058\x02\x32\x00\x0C\x10\x02\x00\x50\x00"s);
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  EXPECT_EQ(line.Writes(3), (Strings{"$056\r", "*050\r", "#058\r"}));
  NextCycle();
  EXPECT_EQ(line.Value("WA5.1.2"), 5.0f);
  NextCycle();
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrReadData);
}

TEST_F(Scan5303, APointListWithoutItsCrFailsAndTheNextReadScansAgain) {
  script.Answer("$056\r", "!0501\x03\x00\x00"s);
  script.Answer("*050\r", ">050\x03\x01\x02\x03X"s);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "*050\r"}));
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(2), (Strings{"$056\r", "*050\r"}));
}

struct FailureCase {
  const char* name;
  std::string summary;  // answer to "$056\r"
  std::string list;     // answer to "*050\r" ("" = none)
  std::string block;    // answer to "#058\r" ("" = none)
  Strings writes;
};

class Scan5303Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Scan5303Failure, FailsWithCode24) {
  const FailureCase& c = GetParam();
  test::ScriptedPeer script;
  test::SensorLine<CPxr5303> line;
  line.line().SetPeer(script.Peer());
  if (!c.summary.empty()) script.Answer("$056\r", c.summary);
  if (!c.list.empty()) script.Answer("*050\r", c.list);
  if (!c.block.empty()) script.Answer("#058\r", c.block);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), c.writes);
}

const Strings kAll = {"$056\r", "*050\r", "#058\r"};

INSTANTIATE_TEST_SUITE_P(
    Answers, Scan5303Failure,
    ::testing::Values(
        FailureCase{"Silent", "", "", "", {"$056\r"}},
        FailureCase{"SummaryHead", ">0501\x01\x00\x00"s, "", "", {"$056\r"}},
        FailureCase{"SummaryAddress", "!0601\x01\x00\x00"s, "", "", {"$056\r"}},
        FailureCase{"ListHead", "!0501\x01\x00\x00"s, "!050\x01\x01\r"s, "", {"$056\r", "*050\r"}},
        // Answers cut short (their rest still on its way) would read as
        // channels without sensors.
        FailureCase{"SummaryCut",
                    "!0503\x01"s,
                    ">050\x01\x01\r"s,
                    ">058\x02\x32\x00\x0C\x10\x04\x00\x50\x00"s,
                    {"$056\r"}},
        FailureCase{"ListCut",
                    "!0501\x01\x00\x00"s,
                    ">050"s,
                    ">058\x01\x32\x00\x0C\x10"s,
                    {"$056\r", "*050\r"}},
        FailureCase{"BlockSilent", "!0501\x01\x00\x00"s, ">050\x01\x01\r"s, "", kAll},
        FailureCase{"BlockHead", "!0501\x01\x00\x00"s, ">050\x01\x01\r"s, "!058\x01\x01\x00"s,
                    kAll}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Scan5303, LineFailuresFailTheScan) {
  script.Answer("$056\r", "!0501\x01\x00\x00"s);
  script.Answer("*050\r", ">050\x01\x01\r"s);
  script.Answer("#058\r", ">058\x01\x01\x00\x50\x00"s);
  // Each read asks for the queued count too: the third is the one before
  // the block query.
  line.line().FailNext(test::FakeOp::ClearError, 3);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), (Strings{"$056\r", "*050\r"}));
  EXPECT_EQ(line.line().calls(test::FakeOp::ClearError), 3);
  line.line().FailNext(test::FakeOp::Write);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(2), Strings{});
  line.line().FailNext(test::FakeOp::Read, 2);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(2), (Strings{"$056\r", "*050\r"}));
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrDelayNotElapsed);
}

TEST_F(Scan5303, PointNumbersOutsideTheChannelMarkNothing) {
  script.Answer("$056\r", "!0507\x01\x03\x01"s);
  script.Answer("*050\r", ">050\x03\x10\xFF\x03\r"s);
  // Channel 1: -128, 16 and 15 (byte 9); channel 2: 5 (byte 21).
  script.Answer("#058\r", ">058\x05"s + "\x32\x00\x0C\x10"s + "\x80\x00\x50\x00"s +
                              "\x10\x00\x50\x00"s + "\x0F\x00\x60\x00"s + "\x05\x00\x70\x00"s);
  EXPECT_EQ(line.ReadCode("TA5.0.3"), ErrDelayNotElapsed);
  NextCycle();
  EXPECT_EQ(line.Value("TA5.0.3"), 25.0f);
  // Channel 1 had three records for one present point: it takes the first.
  EXPECT_EQ(line.Value("WA5.1.15"), 5.0f);
  EXPECT_EQ(line.Value("WA5.2.5"), 7.0f);
  for (const char* absent : {"TA5.1.0", "TA5.2.0", "TA5.0.15", "TA5.0.0"}) {
    NextCycle();
    EXPECT_EQ(line.ReadCode(absent), ErrReadData) << absent;
  }
}

TEST_F(Scan5303, RecordsTheBlockAnswerDidNotCarryNameNoPoint) {
  script.Answer("$056\r", "!0502\x00\x02\x00"s);
  script.Answer("#058\r", ">058\x01\x04\x00\x50\x00"s);  // one record of two
  EXPECT_EQ(line.ReadCode("WA5.1.4"), ErrDelayNotElapsed);
  NextCycle();
  EXPECT_EQ(line.Value("WA5.1.4"), 5.0f);
  NextCycle();
  EXPECT_EQ(line.ReadCode("WA5.1.0"), ErrReadData);
}

TEST(Scan5303Model, Module10IsSentAsZeroUpperA) {
  test::SensorLine<CPxr5303> line;
  auto& module = line.bus.Emplace<sim::Pxr5303Module>(10);
  module.SetValues(0, 2, {.ta = 21.5});
  module.SetValues(1, 7, {.wa = -3.25, .wb = 40.5});
  EXPECT_EQ(line.ReadCode("TA10.0.2"), ErrDelayNotElapsed);
  EXPECT_EQ(line.Writes(), (Strings{"$0A6\r", "*0A0\r", "#0A8\r"}));
  line.clock().Advance(2000);
  EXPECT_EQ(line.Value("TA10.0.2"), 21.5f);
  EXPECT_EQ(line.Value("WA10.1.7"), -3.25f);
  EXPECT_EQ(line.Value("WB10.1.7"), 40.5f);
  EXPECT_EQ(line.Writes(3), (Strings{"#0A8\r"}));
}

}  // namespace
}  // namespace tarvo
