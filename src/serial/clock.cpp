#include "serial/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace tarvo::serial {
namespace {

class SystemClock final : public Clock {
 public:
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
  int64_t NowMs() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

SystemClock systemClock;
std::atomic<Clock*> installed{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* clock = installed.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : systemClock;
}

void SetClock(Clock* clock) { installed.store(clock, std::memory_order_release); }

}  // namespace tarvo::serial
