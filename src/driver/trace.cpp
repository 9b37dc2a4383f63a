#include "driver/trace.h"

namespace tarvo {
namespace {
TraceFunction handler = nullptr;
void* handlerContext = nullptr;
}  // namespace

void SetTraceHandler(TraceFunction function, void* context) {
  handler = function;
  handlerContext = context;
}

void TraceHook(const char* label, const uint8_t* bytes, int32_t count) {
  if (handler != nullptr) handler(handlerContext, label, bytes, count);
}

}  // namespace tarvo
