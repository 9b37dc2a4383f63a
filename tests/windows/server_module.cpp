#include "server_module.h"

#include <cstdio>
#include <cstdlib>

#include "checks.h"

namespace tarvo_test {
namespace {

[[noreturn]] void Fatal(const std::string& what) {
  std::printf("FATAL: %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(2);
}

template <class Function>
void Resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (function == nullptr) Fatal(std::string("the DLL does not export ") + name);
}

}  // namespace

ServerModule::ServerModule(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {
  if (module_ == nullptr)
    Fatal("cannot load " + Narrow(path) + " (error " + std::to_string(GetLastError()) + ")");
  Resolve(module_, "DllGetClassObject", getClassObject_);
  Resolve(module_, "DllCanUnloadNow", canUnloadNow_);
  Resolve(module_, "DllRegisterServer", registerServer_);
  Resolve(module_, "DllUnregisterServer", unregisterServer_);
}

ServerModule::~ServerModule() { FreeLibrary(module_); }

HRESULT ServerModule::GetClassObject(const GUID& clsid, const IID& iid, void** object) const {
  return getClassObject_(clsid, iid, object);
}
HRESULT ServerModule::CanUnloadNow() const { return canUnloadNow_(); }
HRESULT ServerModule::RegisterServer() const { return registerServer_(); }
HRESULT ServerModule::UnregisterServer() const { return unregisterServer_(); }

std::vector<const ExpectedClass*> ServerModule::OfferedClasses() const {
  std::vector<const ExpectedClass*> offered;
  for (const ExpectedClass& cls : kExpectedClasses) {
    IClassFactory* factory = nullptr;
    const HRESULT result = getClassObject_(ParseGuid(cls.clsid), IID_IClassFactory,
                                           reinterpret_cast<void**>(&factory));
    if (result == S_OK && factory != nullptr) {
      factory->Release();
      offered.push_back(&cls);
    } else if (result != CLASS_E_CLASSNOTAVAILABLE) {
      Fatal("DllGetClassObject(" + Narrow(cls.clsid) + ") answered " +
            Hex(static_cast<unsigned long>(result)));
    }
  }
  if (offered.empty()) Fatal("the DLL offers none of the driver classes");
  return offered;
}

}  // namespace tarvo_test
