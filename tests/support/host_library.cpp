#include "support/host_library.h"

#include <dlfcn.h>

namespace tarvo::test {
namespace {

template <class Function>
bool Find(void* handle, const char* name, Function* function, std::string* error) {
  *function = reinterpret_cast<Function>(dlsym(handle, name));
  if (*function == nullptr) *error = std::string("missing export ") + name;
  return *function != nullptr;
}

}  // namespace

HostLibrary::HostLibrary() {
#ifdef TARVO_LIBRARY_PATH
  handle_ = dlopen(TARVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
#endif
  if (handle_ == nullptr) {
    const char* reason = dlerror();
    error_ = reason != nullptr ? reason : "no library path";
    return;
  }
  ok_ = Find(handle_, "DllGetClassObject", &getClassObject_, &error_) &&
        Find(handle_, "DllCanUnloadNow", &canUnloadNow_, &error_) &&
        Find(handle_, "TarvoSetPortDevice", &setPortDevice_, &error_) &&
        Find(handle_, "TarvoSetTraceHandler", &setTraceHandler_, &error_);
}

HostLibrary::~HostLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

IIoDriver* CreateDriver(GetClassObjectFn getClassObject, REFCLSID clsid) {
  IClassFactory* factory = nullptr;
  if (getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)) != S_OK)
    return nullptr;
  void* driver = nullptr;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IIoDriver, &driver);
  factory->Release();
  return created == S_OK ? static_cast<IIoDriver*>(driver) : nullptr;
}

IIoDriver* HostLibrary::Create(REFCLSID clsid) { return CreateDriver(getClassObject_, clsid); }

}  // namespace tarvo::test
