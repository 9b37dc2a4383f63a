#include "tools/common/driver_library.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace tarvo::tools {
namespace {

template <class Function>
bool Find(void* handle, const char* name, Function* function, std::string* error) {
  *function = reinterpret_cast<Function>(dlsym(handle, name));
  if (*function == nullptr) *error = std::string("the library has no entry point ") + name;
  return *function != nullptr;
}

}  // namespace

DriverLibrary::DriverLibrary(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : "cannot load " + path;
    return;
  }
  ok_ = Find(handle_, "DllGetClassObject", &getClassObject_, &error_) &&
        Find(handle_, "DllCanUnloadNow", &canUnloadNow_, &error_) &&
        Find(handle_, "TarvoSetPortDevice", &setPortDevice_, &error_) &&
        Find(handle_, "TarvoSetTraceHandler", &setTraceHandler_, &error_);
}

DriverLibrary::~DriverLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

IIoDriver* CreateDriver(GetClassObjectFn getClassObject, REFCLSID clsid, HRESULT* result) {
  HRESULT ignored = S_OK;
  HRESULT& outcome = result != nullptr ? *result : ignored;
  IClassFactory* factory = nullptr;
  outcome = getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (outcome != S_OK || factory == nullptr) return nullptr;
  void* driver = nullptr;
  outcome = factory->CreateInstance(nullptr, IID_IIoDriver, &driver);
  factory->Release();
  return outcome == S_OK ? static_cast<IIoDriver*>(driver) : nullptr;
}

std::string DescribeHresult(HRESULT result) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(result));
  const char* name = nullptr;
  switch (result) {
    case CLASS_E_CLASSNOTAVAILABLE:
      name = "CLASS_E_CLASSNOTAVAILABLE";
      break;
    case E_NOINTERFACE:
      name = "E_NOINTERFACE";
      break;
    case E_OUTOFMEMORY:
      name = "E_OUTOFMEMORY";
      break;
    case CLASS_E_NOAGGREGATION:
      name = "CLASS_E_NOAGGREGATION";
      break;
    case E_POINTER:
      name = "E_POINTER";
      break;
    case E_FAIL:
      name = "E_FAIL";
      break;
    default:
      break;
  }
  return name != nullptr ? std::string(name) + " (" + hex + ")" : std::string(hex);
}

std::string ChooseLibraryPath(const std::string& given, const char* fallback) {
  if (!given.empty()) return given;
  if (const char* env = std::getenv("TARVO_LIBRARY"); env != nullptr && *env != '\0') return env;
  return fallback;
}

}  // namespace tarvo::tools
