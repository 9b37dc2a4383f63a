// The library's exported entry points: the COM server functions and the
// C extensions. Include this to call the library directly; a host that loads
// it at run time looks the same names up with dlsym/GetProcAddress.
#pragma once

#include <stdint.h>

#include "tarvo/com.h"
#include "tarvo/errors.h"
#include "tarvo/guids.h"
#include "tarvo/io_driver.h"
#include "tarvo/records.h"

// The library's own build defines TARVO_BUILDING_LIBRARY: its definitions
// then export themselves. (The DLL's .def file names the same entry points,
// but a name that only the .def carries is dropped by link-time
// optimisation, and the export table then points at address 0.)
#if defined(_WIN32) && defined(TARVO_BUILDING_LIBRARY)
#define TARVO_API __declspec(dllexport)
#elif defined(_WIN32)
#define TARVO_API __declspec(dllimport)
#else
#define TARVO_API __attribute__((visibility("default")))
#endif

// Traffic observer: called with a label ("Read Send", "Read Receive",
// "Write Send", "Write Receive") and the bytes of each command sent and each
// reply received. Runs on the polling thread, inside the driver call.
typedef void (*TarvoTraceHandler)(void* context, const char* label, const uint8_t* bytes,
                                  int32_t count);

#ifdef __cplusplus
extern "C" {
#endif

#if !defined(_WIN32)
// COM server entry points (declared by the platform headers on Windows).
TARVO_API HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object);
TARVO_API HRESULT DllCanUnloadNow(void);
TARVO_API HRESULT DllRegisterServer(void);
TARVO_API HRESULT DllUnregisterServer(void);
#endif

// Maps port number portNumber (1..255, "COMn") to a device path for the
// POSIX build; a null or empty path restores the default /dev/ttyS{n-1}.
// Returns 1 when the mapping was stored, 0 for a port number out of range.
// On Windows it returns 0: ports are the platform's.
TARVO_API int32_t TarvoSetPortDevice(int32_t portNumber, const char* devicePath);

// Installs (or, with null, removes) the process-wide traffic observer.
TARVO_API void TarvoSetTraceHandler(TarvoTraceHandler handler, void* context);

#ifdef __cplusplus
}  // extern "C"
#endif
