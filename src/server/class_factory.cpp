#include "server/class_factory.h"

#include <vector>

#include "driver/server_lock.h"

namespace tarvo {

HRESULT ClassFactory::QueryInterface(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IClassFactory) {
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  return class_.create(iid, object);
}

HRESULT ClassFactory::LockServer(BOOL lock) noexcept {
  if (lock)
    tarvo::LockServer();
  else
    tarvo::UnlockServer();
  return S_OK;
}

ClassFactory* FindClassFactory(REFCLSID clsid) {
  static std::vector<ClassFactory> factories = [] {
    std::vector<ClassFactory> built;
    for (const ServerClass& cls : ServerClasses()) built.emplace_back(cls);
    return built;
  }();
  const ServerClass* cls = FindServerClass(clsid);
  if (cls == nullptr) return nullptr;
  return &factories[static_cast<size_t>(cls - ServerClasses().data())];
}

}  // namespace tarvo
