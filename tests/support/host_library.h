// The library loaded the way a host loads it: dlopen, the exported entry
// points looked up by name, driver objects created through the class
// factories and used through IIoDriver only.
#pragma once

#include <string>

#include "support/host_port.h"
#include "tarvo/tarvo.h"

namespace tarvo::test {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// A new driver object of the class through `getClassObject` (the entry
// point DllGetClassObject) and the class factory, as IIoDriver (the caller
// releases it), or null.
IIoDriver* CreateDriver(GetClassObjectFn getClassObject, REFCLSID clsid);

class HostLibrary {
 public:
  // Loads TARVO_LIBRARY_PATH; ok() tells whether every entry point was found.
  HostLibrary();
  ~HostLibrary();
  HostLibrary(const HostLibrary&) = delete;
  HostLibrary& operator=(const HostLibrary&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // A new driver object of the class, as IIoDriver, or null.
  IIoDriver* Create(REFCLSID clsid);
  HRESULT CanUnloadNow() const { return canUnloadNow_(); }
  int32_t SetPortDevice(int32_t port, const char* path) const { return setPortDevice_(port, path); }
  void SetTraceHandler(TarvoTraceHandler handler, void* context) const {
    setTraceHandler_(handler, context);
  }

 private:
  void* handle_ = nullptr;
  bool ok_ = false;
  std::string error_;
  GetClassObjectFn getClassObject_ = nullptr;
  HRESULT (*canUnloadNow_)() = nullptr;
  int32_t (*setPortDevice_)(int32_t, const char*) = nullptr;
  void (*setTraceHandler_)(TarvoTraceHandler, void*) = nullptr;
};

}  // namespace tarvo::test
