// The library's C extensions.
#include "driver/trace.h"
#include "serial/device.h"
#include "tarvo/tarvo.h"

extern "C" TARVO_API int32_t TarvoSetPortDevice(int32_t portNumber, const char* devicePath) {
  try {
    return tarvo::serial::SetPortDevice(portNumber, devicePath) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

extern "C" TARVO_API void TarvoSetTraceHandler(TarvoTraceHandler handler, void* context) {
  tarvo::SetTraceHandler(handler, context);
}
