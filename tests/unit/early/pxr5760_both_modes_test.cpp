// CPxr5760 in both modes: scan, block read and the output write give the
// same results, codes, values and commands; the early mode ends each
// exchange when its answer is whole.
#include "gtest/gtest.h"
#include "pxr5760/pxr5760.h"
#include "sim/pxr5760/module.h"
#include "unit/early/compare.h"

namespace tarvo::test {
namespace {

Played Play(bool early, const Case& c) {
  Rig<CPxr5760, sim::Pxr5760Module> rig(early, "100", 26);
  EXPECT_EQ(rig.opened(), 1);
  rig.module().SetRecord(0, 1, {0x32, 0x00, 0x00, 0x10});
  rig.module().SetRecord(3, 7, {0x3D, 0x00, 0x00, 0x10});
  return rig.Play(c.ops);
}

// The scan (8 exchanges; the gate then refuses), a block read, a write of
// an output bit and a value the block read left fresh.
std::vector<Op> Cycle(const sim::Faults& faults, const sim::Faults& scan = {},
                      int scanAnswers = 0) {
  return {FaultsOf(scan, scanAnswers),
          ReadOf("TA26.0.1"),
          At(10000),
          FaultsOf(faults),
          ReadOf("TA26.0.1"),
          At(20000),
          WriteOf("DO26.3.7.2", 1),
          ReadOf("TA26.3.7")};
}

TEST(Pxr5760BothModes, SameOutcomesEarlierWhenWhole) {
  constexpr int64_t D = kDefaultTime;
  const Case cases[] = {
      {"healthy", Cycle({}), {0, 0, 0, 0}},
      {"late by 37 ms", Cycle({.delayMs = 37}), {0, 37, 37, 0}},
      {"in two pieces", Cycle({.pieces = 2, .gapMs = 30}), {0, 30, 30, 0}},
      // The acknowledgement (4 bytes) is shorter than the cut.
      {"truncated", Cycle({.truncateTo = 7}), {0, D, 0, D}},
      // An acknowledgement without its CR is not known to be whole.
      {"without CR", Cycle({.dropFinalCr = true}), {0, 0, D, 0}},
      {"wrong head", Cycle({.head = 'x'}), {0, D, D, D}},
      {"silent", Cycle({.silent = true}), {0, D, D, D}},
      {"list without CR", Cycle({}, {.dropFinalCr = true}, 1), {200, 0, 0, 0}},
  };
  for (const Case& c : cases) ExpectSameButSooner(c, Play(false, c), Play(true, c));
}

}  // namespace
}  // namespace tarvo::test
