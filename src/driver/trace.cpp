#include "driver/trace.h"

#include <atomic>
#include <mutex>

namespace tarvo {
namespace {

struct Handler {
  TraceFunction function = nullptr;
  void* context = nullptr;
};

// The handler and its context change together under the lock; the flag
// lets a trace call without a handler skip the lock.
std::mutex handlerMutex;
Handler handler;
std::atomic<bool> installed{false};

}  // namespace

void SetTraceHandler(TraceFunction function, void* context) {
  std::lock_guard<std::mutex> lock(handlerMutex);
  handler = {function, context};
  installed.store(function != nullptr, std::memory_order_release);
}

void TraceHook(const char* label, const uint8_t* bytes, int32_t count) {
  if (!installed.load(std::memory_order_acquire)) return;
  Handler current;
  {
    std::lock_guard<std::mutex> lock(handlerMutex);
    current = handler;
  }
  // Called outside the lock: a handler may install another.
  if (current.function != nullptr) current.function(current.context, label, bytes, count);
}

}  // namespace tarvo
