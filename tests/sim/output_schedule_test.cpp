// When a line's owed bytes may go: chunk delays, order, and pacing at a
// baud rate, in virtual microseconds.
#include "sim/output_schedule.h"

#include <string>

#include "gtest/gtest.h"

namespace tarvo::sim {
namespace {

std::vector<Chunk> Chunks(std::initializer_list<std::pair<int64_t, std::string>> list) {
  std::vector<Chunk> chunks;
  for (const auto& [delay, text] : list) chunks.push_back({delay, ToBytes(text)});
  return chunks;
}

TEST(OutputSchedule, UnpacedChunksGoWholeWhenDueInOrderOfTheirTimes) {
  OutputSchedule schedule;
  schedule.Add(Chunks({{50, "late"}, {0, "now"}, {50, "-tie"}}), 1'000);
  schedule.Add(Chunks({{10, "mid"}}), 2'000);
  EXPECT_EQ(schedule.NextUs(), 1'000);
  EXPECT_EQ(ToText(schedule.Take(1'000)), "now");
  EXPECT_EQ(schedule.NextUs(), 12'000);
  EXPECT_EQ(ToText(schedule.Take(11'999)), "");
  EXPECT_EQ(ToText(schedule.Take(12'000)), "mid");
  EXPECT_EQ(ToText(schedule.Take(60'000)), "late-tie");
  EXPECT_TRUE(schedule.empty());
  EXPECT_EQ(schedule.NextUs(), std::nullopt);
}

TEST(OutputSchedule, PacedBytesTakeTenBitTimesEach) {
  OutputSchedule schedule(1000);  // 10 ms per byte
  schedule.Add(Chunks({{0, "abcde"}, {5, "XY"}}), 0);
  EXPECT_EQ(ToText(schedule.Take(0)), "a");
  EXPECT_EQ(schedule.NextUs(), 10'000);
  EXPECT_EQ(schedule.NextChunkEndUs(), 40'000);  // "e"
  EXPECT_EQ(ToText(schedule.Take(9'999)), "");
  EXPECT_EQ(ToText(schedule.Take(25'000)), "bc");
  EXPECT_EQ(ToText(schedule.Take(40'000)), "de");
  // "XY" was due at 5 ms but the line was busy until 50 ms.
  EXPECT_EQ(schedule.NextUs(), 50'000);
  EXPECT_EQ(schedule.NextChunkEndUs(), 60'000);
  EXPECT_EQ(ToText(schedule.Take(1'000'000)), "XY");
  EXPECT_EQ(schedule.NextChunkEndUs(), std::nullopt);
  // An idle line sends the next chunk's first byte at once.
  schedule.Add(Chunks({{0, "z"}}), 2'000'000);
  EXPECT_EQ(ToText(schedule.Take(2'000'000)), "z");
}

TEST(OutputSchedule, AChunkPartlySentIsFinishedBeforeAnyOther) {
  OutputSchedule schedule(1000);
  schedule.Add(Chunks({{0, "abc"}}), 0);
  EXPECT_EQ(ToText(schedule.Take(0)), "a");
  schedule.Add(Chunks({{0, "Z"}}), 1'000);
  EXPECT_EQ(ToText(schedule.Take(100'000)), "bcZ");
}

TEST(OutputSchedule, BytesPutBackGoFirst) {
  OutputSchedule schedule;
  schedule.Add(Chunks({{0, "abcd"}, {0, "ef"}}), 0);
  Bytes out = schedule.Take(0);
  EXPECT_EQ(ToText(out), "abcdef");
  schedule.PutBack(Bytes(out.begin() + 3, out.end()), 5);
  schedule.Add(Chunks({{0, "g"}}), 6);
  EXPECT_EQ(schedule.NextUs(), 5);
  EXPECT_EQ(ToText(schedule.Take(6)), "defg");
}

}  // namespace
}  // namespace tarvo::sim
