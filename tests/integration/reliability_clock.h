// A clock for driving real lines in little real time: every sleep really
// sleeps, but for at most kRealSleepMs; the rest of it is skipped and
// counted, so the refresh gates, the 10 s waits and the pauses after empty
// reads pass at once while a module on a pseudo-terminal still gets real
// time to answer. NowMs is real time since creation plus everything
// skipped, so what a call costs in the drivers' own time is measured with
// it. A hook, if set, runs at the start of every sleep on the sleeping
// thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "serial/clock.h"

namespace tarvo::test {

class QuickClock final : public serial::Clock {
 public:
  static constexpr uint32_t kRealSleepMs = 100;

  void SleepMs(uint32_t ms) override {
    if (hook_) hook_();
    const uint32_t real = std::min(ms, kRealSleepMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(real));
    skippedMs_ += ms - real;
  }
  int64_t NowMs() override {
    const auto real = std::chrono::steady_clock::now() - start_;
    return std::chrono::duration_cast<std::chrono::milliseconds>(real).count() + skippedMs_;
  }
  // Time the host spends between polls, skipped.
  void Advance(int64_t ms) { skippedMs_ += ms; }
  // Set only while no driver call runs.
  void SetHook(std::function<void()> hook) { hook_ = std::move(hook); }

 private:
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::atomic<int64_t> skippedMs_{0};
  std::function<void()> hook_;
};

}  // namespace tarvo::test
