// pxr5100 in both modes: the same answers give the same results, codes,
// values and commands; the early mode ends each exchange when its answer is
// whole and otherwise when the default mode does.
#include "gtest/gtest.h"
#include "pxr5100/pxr5100.h"
#include "sim/pxr5100/module.h"
#include "unit/early/compare.h"

namespace tarvo::test {
namespace {

using Rig5100 = Rig<Cpxr5100, sim::Pxr5100Module>;

Played Play(bool early, const Case& c) {
  Rig5100 rig(early, "300", 5);
  EXPECT_EQ(rig.opened(), 1);
  rig.module().SetValues(1, 2, {.ta = 25.0});
  rig.module().SetValues(1, 3, {.wa = 25.5});
  rig.module().SetValues(1, 9, {.ta = -4.5});
  return rig.Play(c.ops);
}

// The scan (8 exchanges; the gate then refuses), then block reads.
std::vector<Op> Cycle(const sim::Faults& block, const sim::Faults& scan = {}, int scanAnswers = 0) {
  return {FaultsOf(scan, scanAnswers), ReadOf("TA5.1.2"), At(10000), FaultsOf(block),
          ReadOf("TA5.1.2"),           ReadOf("WA5.1.3"), At(20000), ReadOf("TA5.1.2")};
}

TEST(Pxr5100BothModes, SameOutcomesEarlierWhenWhole) {
  constexpr int64_t D = kDefaultTime;
  const Case cases[] = {
      {"healthy", Cycle({}), {0, 0, 0, 0}},
      {"late by 37 ms", Cycle({.delayMs = 37}), {0, 37, 0, 37}},
      {"after the settle", Cycle({.delayMs = 450}), {0, 450, 0, 450}},
      {"in three pieces", Cycle({.pieces = 3, .gapMs = 50}), {0, 100, 0, 100}},
      {"longer than needed", Cycle({.padding = 3}), {0, 0, 0, 0}},
      {"truncated", Cycle({.truncateTo = 9}), {0, D, D, D}},
      {"too late", Cycle({.delayMs = 700}), {0, D, D, D}},
      {"wrong head", Cycle({.head = 'x'}), {0, D, D, D}},
      {"other module", Cycle({.fromAddress = 6}), {0, D, D, D}},
      {"noise first", Cycle({.noise = {.count = 2, .fixed = 0x3E}}), {0, D, D, D}},
      {"silent", Cycle({.silent = true}), {0, D, D, D}},
      // Channel 0 lists no points; without its CR the answer is not known to
      // be whole and takes the scan's 100 + 100 ms.
      {"empty list without CR", Cycle({}, {.dropFinalCr = true}, 1), {200, 0, 0, 0}},
      // Channel 1's list cut short: the scan fails there (code 24) after
      // its full time, and the next read scans again.
      {"list truncated", Cycle({}, {.truncateTo = 6}, 2), {200, 0, 0, 0}},
      {"lists without CR", Cycle({}, {.dropFinalCr = true}, 2), {400, 0, 0, 0}},
  };
  for (const Case& c : cases) ExpectSameButSooner(c, Play(false, c), Play(true, c));
}

TEST(Pxr5100BothModes, HealthyCycleDeliversInBothModes) {
  for (const bool early : {false, true}) {
    const Case c{"healthy", Cycle({}), {}};
    const Played played = Play(early, c);
    ASSERT_EQ(played.steps.size(), 4u);
    const int32_t codes[] = {ErrDelayNotElapsed, ErrOk, ErrOk, ErrOk};
    const int32_t results[] = {0, 1, 1, 1};
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(played.steps[i].result, results[i]) << early << " " << i;
      EXPECT_EQ(played.steps[i].code, codes[i]) << early << " " << i;
    }
    // The default mode's costs: 8 × (100 + 100) ms of scan, 300 + 300 per block read.
    if (!early) {
      EXPECT_EQ(played.steps[0].ms, 1600);
      EXPECT_EQ(played.steps[1].ms, 600);
    }
  }
}

}  // namespace
}  // namespace tarvo::test
