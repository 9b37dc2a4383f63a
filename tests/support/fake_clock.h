// A clock for tests: sleeping advances virtual time at once, so a wait of
// seconds costs nothing and every duration is exact.
#pragma once

#include <cstdint>
#include <vector>

#include "serial/clock.h"

namespace tarvo::test {

class FakeClock final : public serial::Clock {
 public:
  explicit FakeClock(int64_t startMs = 0) : nowMs_(startMs) {}

  void SleepMs(uint32_t ms) override {
    sleeps_.push_back(ms);
    nowMs_ += ms;
  }
  int64_t NowMs() override { return nowMs_; }

  // Lets virtual time pass without a sleep (time spent by the host).
  void Advance(int64_t ms) { nowMs_ += ms; }
  // Every SleepMs so far, in order.
  const std::vector<uint32_t>& sleeps() const { return sleeps_; }
  void ClearSleeps() { sleeps_.clear(); }

 private:
  int64_t nowMs_;
  std::vector<uint32_t> sleeps_;
};

}  // namespace tarvo::test
