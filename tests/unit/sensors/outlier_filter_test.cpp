// The outlier filter over sequences of readings: what is delivered, what is
// held back, and how the reject count runs.
#include "sensors/outlier_filter.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "gtest/gtest.h"

namespace tarvo::sensors {
namespace {

struct Step {
  float reading;
  float delivered;
  int32_t rejects;  // after the step
};

// A filter that has accepted `last` and holds `rejects`.
OutlierFilter Holding(float last, int32_t rejects = 0) {
  OutlierFilter filter;
  filter.valid = 1;
  filter.last = last;
  filter.rejects = rejects;
  return filter;
}

void Feed(OutlierFilter filter, int32_t threshold, OnAccept on_accept,
          std::initializer_list<Step> steps) {
  int index = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(::testing::Message() << "step " << index++ << ", reading " << step.reading);
    EXPECT_EQ(ApplyOutlierFilter(&filter, step.reading, threshold, on_accept), step.delivered);
    EXPECT_EQ(filter.rejects, step.rejects);
    EXPECT_EQ(filter.valid, 1);
  }
}

void Feed(OutlierFilter filter, int32_t threshold, std::initializer_list<Step> steps) {
  Feed(filter, threshold, OnAccept::kKeepRejects, steps);
}

TEST(OutlierFilter, FirstReadingIsTakenUnchecked) {
  OutlierFilter filter;
  EXPECT_EQ(ApplyOutlierFilter(&filter, 1000.0f, 10), 1000.0f);
  EXPECT_EQ(filter.valid, 1);
  EXPECT_EQ(filter.last, 1000.0f);
  EXPECT_EQ(filter.rejects, 0);
  Feed(filter, 10, {{0.0f, 1000.0f, 1}});
}

TEST(OutlierFilter, AJumpIsHeldBackThreeTimesThenAccepted) {
  Feed(Holding(20.0f), 10,
       {{35.0f, 20.0f, 1},
        {35.0f, 20.0f, 2},
        {35.0f, 20.0f, 3},
        {35.0f, 35.0f, 0},
        {35.0f, 35.0f, 0}});
}

TEST(OutlierFilter, TheTruncatedDifferenceMeetsTheThreshold) {
  struct Bound {
    float last, reading;
    int32_t threshold;
    bool accepted;
  } bounds[] = {
      {20.0f, 30.9f, 10, true},
      {20.0f, 31.0f, 10, false},
      {20.0f, 30.99f, 10, true},
      {20.0f, 30.5f, 10, true},
      {20.0f, 9.1f, 10, true},
      {20.0f, 9.0f, 10, false},
      {40.0f, 85.0f, 50, true},
      {20.0f, 70.99f, 50, true},
      {20.0f, 71.0f, 50, false},
      {20.0f, -30.99f, 50, true},
      {20.0f, -31.0f, 50, false},
      {-5.0f, 5.5f, 10, true},
      {20.0f, 20.99f, 0, true},
      {20.0f, 21.0f, 0, false},
      {20.0f, 20.0f, -1, false},
      {0.0f, 3.0e38f, 2147483647, false},
      {-3.0e38f, 3.0e38f, 2147483647, false},
  };
  for (const Bound& b : bounds) {
    SCOPED_TRACE(::testing::Message() << b.last << " -> " << b.reading << ", T " << b.threshold);
    OutlierFilter filter = Holding(b.last);
    const float delivered = ApplyOutlierFilter(&filter, b.reading, b.threshold);
    EXPECT_EQ(delivered, b.accepted ? b.reading : b.last);
    EXPECT_EQ(filter.last, delivered);
    EXPECT_EQ(filter.rejects, b.accepted ? 0 : 1);
  }
}

TEST(OutlierFilter, AcceptedReadingsDoNotResetTheCount) {
  Feed(Holding(20.0f), 10,
       {{35.0f, 20.0f, 1},
        {21.0f, 21.0f, 1},
        {40.0f, 21.0f, 2},
        {40.0f, 21.0f, 3},
        {40.0f, 40.0f, 0}});
  Feed(Holding(20.0f), 10,
       {{31.5f, 20.0f, 1},
        {31.9f, 20.0f, 2},
        {25.0f, 25.0f, 2},
        {40.0f, 25.0f, 3},
        {41.0f, 41.0f, 0}});
}

TEST(OutlierFilter, HoldOneAcceptNormalThenThreeJumps) {
  // The count runs over all jumps: only two of the later three are held.
  Feed(Holding(20.0f), 10,
       {{35.0f, 20.0f, 1},
        {22.0f, 22.0f, 1},
        {40.0f, 22.0f, 2},
        {40.0f, 22.0f, 3},
        {40.0f, 40.0f, 0}});
  // A normal reading ends the run: all three are held, the fourth passes.
  Feed(Holding(20.0f), 10, OnAccept::kResetRejects,
       {{35.0f, 20.0f, 1},
        {22.0f, 22.0f, 0},
        {40.0f, 22.0f, 1},
        {40.0f, 22.0f, 2},
        {40.0f, 22.0f, 3},
        {40.0f, 40.0f, 0}});
}

TEST(OutlierFilter, DifferencesBeyondAnIntegerAreJumps) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float max = std::numeric_limits<float>::max();
  constexpr int32_t kWidest = std::numeric_limits<int32_t>::max();
  Feed(Holding(0.0f), kWidest, {{1e10f, 0.0f, 1}, {-1e10f, 0.0f, 2}, {2e9f, 2e9f, 2}});
  Feed(Holding(-max), 10, {{max, -max, 1}, {inf, -max, 2}, {-inf, -max, 3}, {max, max, 0}});
  Feed(Holding(20.0f), 10, {{nan, 20.0f, 1}, {20.5f, 20.5f, 1}});
}

}  // namespace
}  // namespace tarvo::sensors
