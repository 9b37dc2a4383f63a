// Plays one case in both modes and checks what must agree and the early
// mode's times.
#pragma once

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "unit/early/both_modes.h"

namespace tarvo::test {

// "As long as the default mode": the answer never became whole.
inline constexpr int64_t kDefaultTime = -1;

struct Case {
  const char* name;
  std::vector<Op> ops;
  // Per read or write, the early mode's time in ms, or kDefaultTime.
  std::vector<int64_t> earlyMs;
};

inline void ExpectSameButSooner(const Case& c, const Played& normal, const Played& early) {
  SCOPED_TRACE(c.name);
  EXPECT_EQ(early.bytes, normal.bytes) << "the bytes sent differ";
  ASSERT_EQ(normal.steps.size(), c.earlyMs.size());
  ASSERT_EQ(early.steps.size(), c.earlyMs.size());
  for (size_t i = 0; i < c.earlyMs.size(); ++i) {
    EXPECT_EQ(Untimed(early.steps[i]), Untimed(normal.steps[i]))
        << "call " << i << ": early " << Describe(early.steps[i]) << ", default "
        << Describe(normal.steps[i]);
    const int64_t expected = c.earlyMs[i] == kDefaultTime ? normal.steps[i].ms : c.earlyMs[i];
    EXPECT_EQ(early.steps[i].ms, expected) << "call " << i;
  }
}

}  // namespace tarvo::test
