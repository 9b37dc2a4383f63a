// The eight-channel module scan on the wire: one point list per channel,
// the early end, and the failures that leave the module to be scanned
// again.
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pxr530x/pxr530x.h"
#include "sensor_line.h"
#include "sim/pxr530x/module_530x.h"

namespace tarvo {
namespace {

using namespace std::string_literals;
using Strings = std::vector<std::string>;

const Strings kLists = {"*050\r", "*051\r", "*052\r", "*053\r",
                        "*054\r", "*055\r", "*056\r", "*057\r"};

TEST(Scan530x, AsksEveryChannelThenReadsTheBlock) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(5);
  module.SetValues(0, 1, {.ta = 20.5});
  module.SetValues(7, 63, {.wa = -1.5, .wb = 40.0});
  EXPECT_EQ(line.Value("TA5.0.1"), 20.5f);
  Strings expected = kLists;
  expected.push_back("#058\r");
  EXPECT_EQ(line.Writes(), expected);
  // 200 ms per question, then the 10 s before the block read.
  EXPECT_EQ(line.WriteTimes(),
            (std::vector<int64_t>{0, 200, 400, 600, 800, 1000, 1200, 1400, 11600}));
  EXPECT_EQ(line.Value("WA5.7.63"), -1.5f);
  EXPECT_EQ(line.WriteCount(), 9u);
}

TEST(Scan530x, AModuleThatStopsAnsweringAtChannelThreeIsScanned) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(5, 3);
  module.SetValues(0, 1, {.ta = 20.5});
  module.SetValues(0, 2, {.ta = 21.0});
  module.SetValues(2, 63, {.tb = -7.25});
  EXPECT_EQ(line.Value("TA5.0.2"), 21.0f);
  EXPECT_EQ(line.Writes(), (Strings{"*050\r", "*051\r", "*052\r", "*053\r", "#058\r"}));
  EXPECT_EQ(line.Value("TB5.2.63"), -7.25f);
  EXPECT_EQ(line.Value("TA5.0.1"), 20.5f);
  EXPECT_EQ(line.WriteCount(), 5u);
  // Scanned: the next block read follows without questions.
  EXPECT_EQ(line.Value("TA5.0.1"), 20.5f);
  EXPECT_EQ(line.Writes(5), Strings{"#058\r"});
}

TEST(Scan530x, ASilentModuleFailsAndIsScannedAgainAtTheNextRead) {
  test::SensorLine<CPxr530x> line;
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), Strings{"*050\r"});
  EXPECT_EQ(line.Elapsed(), 200);

  line.bus.Emplace<sim::Pxr530xModule>(5).SetValues(0, 1, {.ta = 20.5});
  EXPECT_EQ(line.Value("TA5.0.1"), 20.5f);
  EXPECT_EQ(line.Writes(1).size(), 9u);
}

struct FaultCase {
  const char* name;
  sim::Faults faults;  // on the answer to "*050\r"
};

class Scan530xFirstAnswer : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Scan530xFirstAnswer, FailsWithCode24) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(10);
  module.SetValues(0, 1, {.ta = 20.5});
  module.SetFaults(GetParam().faults, 1);
  EXPECT_EQ(line.ReadCode("TA10.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), Strings{"*0A0\r"});
  EXPECT_EQ(line.Value("TA10.0.1"), 20.5f);
}

INSTANTIATE_TEST_SUITE_P(Faults, Scan530xFirstAnswer,
                         ::testing::Values(FaultCase{"Silent", {.silent = true}},
                                           FaultCase{"Head", {.head = '!'}},
                                           FaultCase{"LowerCaseAddress", {.swapAddressCase = true}},
                                           FaultCase{"OtherAddress", {.fromAddress = 11}},
                                           FaultCase{"NoFinalCr", {.dropFinalCr = true}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Scan530x, APointListWithoutItsCrOnALaterChannelFails) {
  test::ScriptedPeer script;  // outlives the line that calls it
  test::SensorLine<CPxr530x> line;
  line.line().SetPeer(script.Peer());
  script.Answer("*050\r", ">050\x01\x01\r"s);
  script.Answer("*051\r", ">051\x03\x01\x02\x03X"s);
  EXPECT_EQ(line.ReadCode("TA5.0.1"), ErrInitModule);
  EXPECT_EQ(line.Writes(), (Strings{"*050\r", "*051\r"}));
}

TEST(Scan530x, ARescanReplacesCountsAndPoints) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(5);
  for (int p : {0, 1, 2}) module.SetValues(0, p, {.ta = 10.0 + p});
  module.SetValues(1, 5, {.ta = 30.0});
  EXPECT_EQ(line.Value("TA5.1.5"), 30.0f);

  line.Recreate();
  module.RemovePoint(0, 1);
  module.RemovePoint(0, 2);
  module.SetValues(1, 5, {.ta = 31.0});
  const size_t mark = line.WriteCount();
  // Channel 1's record follows one record of channel 0 now, not three.
  EXPECT_EQ(line.Value("TA5.1.5"), 31.0f);
  EXPECT_EQ(line.Writes(mark).size(), 9u);
  EXPECT_EQ(line.Value("TA5.0.0"), 10.0f);
  EXPECT_EQ(line.ReadCode("TA5.0.2"), ErrReadData);
}

TEST(Scan530x, PointNumbersOutsideTheChannelMarkNothing) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(5);
  module.SetValues(0, 1, {.ta = 20.5});
  module.SetValues(1, 3, {.ta = 22.5});
  // 64 would be point 0 of channel 1 in a flat table.
  module.SetFaults({.extraPoint = 64}, 1);
  EXPECT_EQ(line.Value("TA5.0.1"), 20.5f);
  // The listed count is what the block answer is taken to hold: channel 1
  // starts one record later than the module sent it, past the answer's end,
  // so its point gets no record.
  EXPECT_EQ(line.ReadCode("TA5.1.3"), ErrReadData);
  EXPECT_EQ(line.ReadCode("TA5.1.0"), ErrReadData);
}

// A whole module answers 5 + 512 x 4 = 2053 bytes: the last point's record
// arrives whole and is delivered.
TEST(Scan530x, AWholeModuleReadsItsLastPoint) {
  test::SensorLine<CPxr530x> line;
  auto& module = line.bus.Emplace<sim::Pxr530xModule>(5);
  for (int c = 0; c < 8; ++c)
    for (int p = 0; p < 64; ++p) module.SetValues(c, p, {.ta = 20.5});
  module.SetValues(7, 63, {.ta = 31.5});
  EXPECT_EQ(line.Value("TA5.7.63"), 31.5f);
  EXPECT_EQ(line.Value("TA5.0.0"), 20.5f);
}

}  // namespace
}  // namespace tarvo
