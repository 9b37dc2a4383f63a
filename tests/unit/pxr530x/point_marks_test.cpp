// How point lists and block answers land in a module's tables: only the
// named channel changes, numbers outside it mark nothing, and record
// positions never leave the answer buffer.
#include <algorithm>
#include <vector>

#include "driver/read_cycle.h"
#include "gtest/gtest.h"

namespace tarvo::readcycle {
namespace {

std::vector<int> Present(ModuleState& state, int channel) {
  std::vector<int> points;
  const auto span = state.Channel(channel);
  for (size_t p = 0; p < span.size(); ++p)
    if (span[p].present) points.push_back(static_cast<int>(p));
  return points;
}

void MarkAll(ModuleState& state) {
  for (int c = 0; c < state.channels(); ++c)
    for (PointState& point : state.Channel(c)) point.present = true;
}

// A zero-filled buffer of size bytes holding text at its start.
std::vector<uint8_t> Buffer(const std::string& text, size_t size = 600) {
  std::vector<uint8_t> buffer(size, 0);
  std::copy(text.begin(), text.end(), buffer.begin());
  return buffer;
}

const std::vector<int> kAll16 = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

TEST(PointList, AnEmptyListClearsExactlyTheChannel) {
  ModuleState state(3, 16, 0);
  MarkAll(state);
  EXPECT_EQ(ApplyPointList(state, 0, Buffer(std::string(">05\x30\x00\r", 6))), 0);
  EXPECT_EQ(Present(state, 0), std::vector<int>{});
  EXPECT_EQ(Present(state, 1), kAll16);
  EXPECT_EQ(Present(state, 2), kAll16);
}

TEST(PointList, AListReplacesTheChannelsFlags) {
  ModuleState state(3, 16, 0);
  MarkAll(state);
  EXPECT_EQ(ApplyPointList(state, 1, Buffer(std::string(">05\x31\x02\x09\x04\r", 8))), 2);
  EXPECT_EQ(Present(state, 0), kAll16);
  EXPECT_EQ(Present(state, 1), (std::vector<int>{4, 9}));
  EXPECT_EQ(Present(state, 2), kAll16);
}

TEST(PointList, NumbersOutsideTheChannelMarkNothing) {
  ModuleState state(3, 16, 0);
  // 16 would be point 0 of channel 1 in a flat table, 255 beyond the module.
  EXPECT_EQ(ApplyPointList(state, 0, Buffer(std::string(">05\x30\x04\x10\xFF\x0F\x80\r", 10))), 4);
  EXPECT_EQ(Present(state, 0), std::vector<int>{15});
  EXPECT_EQ(Present(state, 1), std::vector<int>{});
  EXPECT_EQ(Present(state, 2), std::vector<int>{});

  ModuleState wide(8, 64, 0);
  EXPECT_EQ(ApplyPointList(wide, 7, Buffer(std::string(">05\x37\x02\x40\x3F\r", 8))), 2);
  EXPECT_EQ(Present(wide, 7), std::vector<int>{63});
}

TEST(PointList, AListWithoutItsFinalCrChangesNothing) {
  ModuleState state(8, 64, 0);
  MarkAll(state);
  EXPECT_EQ(ApplyPointList(state, 0, Buffer(std::string(">05\x30\x03\x01\x02\x03X", 9))), -1);
  EXPECT_EQ(Present(state, 0).size(), 64u);
  // The longest list: 255 numbers, CR at byte 260.
  // Built in place: GCC 12 at -O2 takes the concatenation of short strings
  // for an out-of-bounds copy (-Warray-bounds).
  std::vector<uint8_t> longest = Buffer(">05\x30\xFF");
  std::fill_n(longest.begin() + 5, 255, 0x01);
  longest[260] = '\r';
  EXPECT_EQ(ApplyPointList(state, 0, longest), 255);
  EXPECT_EQ(Present(state, 0), std::vector<int>{1});
}

TEST(Distribute, ChannelsTakeTheirRecordsInPointOrder) {
  ModuleState state(3, 16, 0);
  state.sensorCount = {2, 0, 1};
  state.Point(0, 9).present = true;
  state.Point(0, 4).present = true;
  state.Point(2, 1).present = true;
  state.Point(1, 3).present = true;  // count 0: takes nothing
  state.Point(1, 3).record = {9, 9, 9, 9};
  std::vector<uint8_t> answer = Buffer(
      ">05\x38\x03"
      "ABCDEFGHIJKL",
      2048);
  DistributeRecords(state, answer);
  EXPECT_EQ(state.Point(0, 4).record, (std::array<uint8_t, 4>{'A', 'B', 'C', 'D'}));
  EXPECT_EQ(state.Point(0, 9).record, (std::array<uint8_t, 4>{'E', 'F', 'G', 'H'}));
  EXPECT_EQ(state.Point(2, 1).record, (std::array<uint8_t, 4>{'I', 'J', 'K', 'L'}));
  EXPECT_EQ(state.Point(0, 4).fresh.count(), 4u);
  EXPECT_EQ(state.Point(1, 3).record, (std::array<uint8_t, 4>{9, 9, 9, 9}));
  EXPECT_EQ(state.Point(1, 3).fresh.count(), 0u);
  EXPECT_EQ(state.Point(0, 0).fresh.count(), 0u);
}

TEST(Distribute, AChannelWithMorePointsThanRecordsNeverTakesTheNextChannels) {
  ModuleState state(3, 16, 0);
  state.sensorCount = {1, 1, 0};
  state.Point(0, 2).present = true;
  state.Point(0, 5).present = true;  // the count says one record only
  state.Point(1, 0).present = true;
  DistributeRecords(state, Buffer(">05\x38\x02"
                                  "ABCDEFGH",
                                  2048));
  EXPECT_EQ(state.Point(0, 2).record, (std::array<uint8_t, 4>{'A', 'B', 'C', 'D'}));
  EXPECT_EQ(state.Point(0, 5).fresh.count(), 0u);
  EXPECT_EQ(state.Point(0, 5).record, (std::array<uint8_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(state.Point(1, 0).record, (std::array<uint8_t, 4>{'E', 'F', 'G', 'H'}));
}

TEST(Distribute, RecordsTheAnswerDoesNotHoldWholeAreNotTaken) {
  ModuleState state(3, 16, 0);
  // Channel 2 starts at 5 + 4 * 510 = 2045: three bytes of its first
  // record arrived, none of its second.
  state.sensorCount = {255, 255, 2};
  state.Point(2, 0).present = true;
  state.Point(2, 1).present = true;
  std::vector<uint8_t> answer(2048, 0x11);
  state.Point(2, 0).record = {6, 6, 6, 6};
  state.Point(2, 1).record = {7, 7, 7, 7};
  DistributeRecords(state, answer);
  EXPECT_EQ(state.Point(2, 0).record, (std::array<uint8_t, 4>{6, 6, 6, 6}));
  EXPECT_EQ(state.Point(2, 0).fresh.count(), 0u);
  EXPECT_EQ(state.Point(2, 1).record, (std::array<uint8_t, 4>{7, 7, 7, 7}));
  EXPECT_EQ(state.Point(2, 1).fresh.count(), 0u);
  // The whole record arrived: taken.
  answer.push_back(0x24);
  DistributeRecords(state, answer);
  EXPECT_EQ(state.Point(2, 0).record, (std::array<uint8_t, 4>{0x11, 0x11, 0x11, 0x24}));
  EXPECT_EQ(state.Point(2, 0).fresh.count(), 4u);
  EXPECT_EQ(state.Point(2, 1).fresh.count(), 0u);
}

}  // namespace
}  // namespace tarvo::readcycle
