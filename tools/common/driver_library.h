// The library loaded the way a host loads it: dlopen, the entry points
// looked up by name, driver objects created through the class factories and
// used through IIoDriver only. Nothing of the library is linked in.
#pragma once

#include <string>

#include "tarvo/tarvo.h"

namespace tarvo::tools {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

// A new driver object of the class through `getClassObject` (the entry
// point DllGetClassObject) and the class factory, as IIoDriver (the caller
// releases it), or null with the failing HRESULT in *result when result is
// not null.
IIoDriver* CreateDriver(GetClassObjectFn getClassObject, REFCLSID clsid, HRESULT* result = nullptr);

class DriverLibrary {
 public:
  // Loads the library at `path` (a bare name goes through the dynamic
  // loader's search). ok() tells whether it loaded and every entry point
  // was found; error() says why not.
  explicit DriverLibrary(const std::string& path);
  ~DriverLibrary();
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // A new driver object of the class as IIoDriver (the caller releases
  // it), or null with the failing HRESULT in *result (when not null):
  // CLASS_E_CLASSNOTAVAILABLE when the library does not offer the class.
  IIoDriver* Create(REFCLSID clsid, HRESULT* result = nullptr) const {
    return CreateDriver(getClassObject_, clsid, result);
  }
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

// The library a tool loads: the one given, else $TARVO_LIBRARY when set,
// else `fallback`.
std::string ChooseLibraryPath(const std::string& given, const char* fallback);

// "0x80040111" and, for the codes a host meets here, its name.
std::string DescribeHresult(HRESULT result);

}  // namespace tarvo::tools
