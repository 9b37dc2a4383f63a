// Cpxr5700 in both modes: every reply has a fixed length, so the early mode
// ends an exchange when the reply and its CR are in.
#include "gtest/gtest.h"
#include "pxr5700/pxr5700.h"
#include "sim/pxr5700/module.h"
#include "unit/early/compare.h"

namespace tarvo::test {
namespace {

Played Play(bool early, const Case& c) {
  Rig<Cpxr5700, sim::Pxr5700Module> rig(early, "150", 10);
  EXPECT_EQ(rig.opened(), 1);
  rig.module().SetInputs(0x08);
  rig.module().SetTemperatureRecord(1, {0x32, 0x00, 0x0C, 0x10});
  rig.module().SetTemperatureRecord(2, {0x80, 0xFF, 0x0C, 0x10});
  rig.module().SetNumericText(1, "12.50");
  rig.module().SetNumericText(2, "-3.25");
  return rig.Play(c.ops);
}

std::vector<Op> Cycle(const sim::Faults& faults) {
  return {FaultsOf(faults), ReadOf("DI10.3"), ReadOf("DI10.5"),     ReadOf("TA10.1"),
          ReadOf("WI10.2"), ReadOf("WI10.1"), WriteOf("DO10.7", 1), ReadOf("DO10.7")};
}

TEST(Pxr5700BothModes, SameOutcomesEarlierWhenWhole) {
  constexpr int64_t D = kDefaultTime;
  const Case cases[] = {
      {"healthy", Cycle({}), {0, 0, 0, 0, 0, 0, 0}},
      {"late by 37 ms", Cycle({.delayMs = 37}), {37, 0, 37, 37, 0, 37, 37}},
      {"in two pieces", Cycle({.pieces = 2, .gapMs = 60}), {60, 0, 60, 60, 0, 60, 60}},
      {"longer than needed", Cycle({.padding = 4}), {0, 0, 0, 0, 0, 0, 0}},
      // The data is all there, but without the CR the reply is not known to be
      // whole: the default mode's time and the same values.
      {"without CR", Cycle({.dropFinalCr = true}), {D, D, D, D, D, D, D}},
      {"truncated", Cycle({.truncateTo = 4}), {D, D, D, D, D, D, D}},
      {"wrong head", Cycle({.head = '?'}), {D, D, D, D, D, D, D}},
      // Each reply comes 50 ms after its exchange ended and is taken by the
      // next exchange of the same shape, in both modes: the early mode ends
      // that exchange when the stale reply is whole.
      {"too late", Cycle({.delayMs = 200}), {D, 50, D, D, 50, D, D}},
      {"silent", Cycle({.silent = true}), {D, D, D, D, D, D, D}},
  };
  for (const Case& c : cases) ExpectSameButSooner(c, Play(false, c), Play(true, c));
}

TEST(Pxr5700BothModes, AReplyCutShortStillFailsWith17InBothModes) {
  for (const bool early : {false, true}) {
    const Case c{"truncated", Cycle({.truncateTo = 4}), {}};
    const Played played = Play(early, c);
    ASSERT_EQ(played.steps.size(), 7u);
    EXPECT_EQ(played.steps[2].result, 0) << early;  // TA needs 13 bytes
    EXPECT_EQ(played.steps[2].code, ErrPortRead) << early;
    EXPECT_EQ(played.steps[2].ms, 150) << early;
  }
}

}  // namespace
}  // namespace tarvo::test
