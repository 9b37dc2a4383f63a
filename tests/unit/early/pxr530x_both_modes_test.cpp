// CPxr5303 and CPxr530x in both modes: the same answers give the same
// results, codes, values and commands; the fixed waits stay, the waits for
// answers end when the answer is whole.
#include "gtest/gtest.h"
#include "pxr530x/pxr5303.h"
#include "pxr530x/pxr530x.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "unit/early/compare.h"

namespace tarvo::test {
namespace {

template <class Driver, class Module>
Played Play(bool early, const Case& c) {
  Rig<Driver, Module> rig(early, "300", 5);
  EXPECT_EQ(rig.opened(), 1);
  rig.module().SetRecord(0, 3, {0x32, 0x00, 0x0C, 0x10});
  rig.module().SetRecord(1, 2, {0x02, 0x00, 0x0C, 0x10});
  rig.module().SetRecord(2, 5, {0x05, 0x00, 0x0C, 0x10});
  return rig.Play(c.ops);
}

// The scan and a refused first read, then block reads behind the gate.
std::vector<Op> Cycle5303(const sim::Faults& block, const sim::Faults& scan = {},
                          int scanAnswers = 0) {
  return {FaultsOf(scan, scanAnswers), ReadOf("TA5.0.3"), At(10000), FaultsOf(block),
          ReadOf("TA5.1.2"),           ReadOf("TB5.1.2"), At(20000), ReadOf("TA5.1.2")};
}

TEST(Pxr5303BothModes, SameOutcomesEarlierWhenWhole) {
  // The scan keeps its two 100 ms pauses between questions in both modes.
  constexpr int64_t D = kDefaultTime;
  const Case cases[] = {
      {"healthy", Cycle5303({}), {200, 0, 0, 0}},
      {"late by 37 ms", Cycle5303({.delayMs = 37}), {200, 37, 0, 37}},
      {"in three pieces", Cycle5303({.pieces = 3, .gapMs = 40}), {200, 80, 0, 80}},
      {"truncated", Cycle5303({.truncateTo = 12}), {200, D, D, D}},
      {"wrong head", Cycle5303({.head = '<'}), {200, D, D, D}},
      {"silent", Cycle5303({.silent = true}), {200, D, D, D}},
      // The summary cut short fails the scan after its full 200 ms; the next
      // read scans again.
      {"summary truncated", Cycle5303({}, {.truncateTo = 7}, 1), {200, 200, D, 0}},
      // Channel 0's list without its CR fails the scan after its full 200 ms;
      // the next read scans again.
      {"list without CR", Cycle5303({}, {.dropFinalCr = true}, 2), {300, 200, 0, 0}},
  };
  for (const Case& c : cases) {
    ExpectSameButSooner(c, Play<CPxr5303, sim::Pxr5303Module>(false, c),
                        Play<CPxr5303, sim::Pxr5303Module>(true, c));
  }
}

std::vector<Op> Cycle530x(const sim::Faults& block) {
  return {ReadOf("TA5.0.3"), FaultsOf(block), ReadOf("TA5.0.3"), ReadOf("TA5.1.2")};
}

TEST(Pxr530xBothModes, SameOutcomesAndTheTenSecondWaitStays) {
  const Case cases[] = {
      {"healthy", Cycle530x({}), {10000, 10000, 0}},
      {"late by 37 ms", Cycle530x({.delayMs = 37}), {10000, 10037, 0}},
      {"late by 250 ms", Cycle530x({.delayMs = 250}), {10000, 10250, 0}},
      {"truncated", Cycle530x({.truncateTo = 8}), {10000, kDefaultTime, kDefaultTime}},
      {"silent", Cycle530x({.silent = true}), {10000, kDefaultTime, kDefaultTime}},
  };
  for (const Case& c : cases) {
    ExpectSameButSooner(c, Play<CPxr530x, sim::Pxr530xModule>(false, c),
                        Play<CPxr530x, sim::Pxr530xModule>(true, c));
  }
}

}  // namespace
}  // namespace tarvo::test
