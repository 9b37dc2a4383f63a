// A library with the entry points of the driver library and no classes:
// what tarvo-poll meets when a build of the library lacks a family.
#include <cstdint>

#include "tarvo/com.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT HRESULT DllGetClassObject(REFCLSID, REFIID, void** object) {
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}
EXPORT HRESULT DllCanUnloadNow() { return S_OK; }
EXPORT int32_t TarvoSetPortDevice(int32_t, const char*) { return 1; }
EXPORT void TarvoSetTraceHandler(void (*)(void*, const char*, const uint8_t*, int32_t), void*) {}
