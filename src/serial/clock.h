// The one source of time for the drivers: millisecond sleeps and the whole
// seconds of the refresh gates. Production uses the system's monotonic
// clock; tests install a fake whose sleeps advance virtual time.
#pragma once

#include <cstdint>

namespace tarvo::serial {

class Clock {
 public:
  virtual ~Clock() = default;
  // Blocks the calling thread for ms milliseconds.
  virtual void SleepMs(uint32_t ms) = 0;
  // Monotonic milliseconds since an arbitrary origin; never goes back.
  virtual int64_t NowMs() = 0;
  // Monotonic whole seconds (NowMs() / 1000): what the refresh gates count.
  int64_t NowSeconds() { return NowMs() / 1000; }
};

// The clock the drivers use: the system clock unless a test installed one.
Clock& CurrentClock();
// Installs clock for the whole process (tests only); null restores the
// system clock. The caller keeps ownership and must outlive its use.
void SetClock(Clock* clock);

}  // namespace tarvo::serial
