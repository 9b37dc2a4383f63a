#include "driver/server_lock.h"

#include <atomic>

namespace tarvo {
namespace {
std::atomic<long> locks{0};
}  // namespace

void LockServer() { locks.fetch_add(1, std::memory_order_relaxed); }

void UnlockServer() {
  // A host that unlocks more often than it locked must not wrap the count.
  long current = locks.load(std::memory_order_relaxed);
  while (current > 0 &&
         !locks.compare_exchange_weak(current, current - 1, std::memory_order_relaxed)) {
  }
}

bool ServerLocked() { return locks.load(std::memory_order_relaxed) > 0; }

}  // namespace tarvo
