// The traffic observer hosts install with TarvoSetTraceHandler. With no
// handler installed a trace call is one load and a branch.
#pragma once

#include <cstdint>

namespace tarvo {

using TraceFunction = void (*)(void* context, const char* label, const uint8_t* bytes,
                               int32_t count);

void SetTraceHandler(TraceFunction handler, void* context);
// Passes one command or reply to the handler, if any.
void TraceHook(const char* label, const uint8_t* bytes, int32_t count);

}  // namespace tarvo
