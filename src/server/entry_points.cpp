// The exported COM server entry points.
#include "driver/server_lock.h"
#include "server/class_factory.h"
#include "server/registration.h"
#include "tarvo/tarvo.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  tarvo::ClassFactory* factory = nullptr;
  try {
    factory = tarvo::FindClassFactory(clsid);  // builds the factory table on first use
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (factory == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
  return factory->QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() { return tarvo::ServerLocked() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return tarvo::RegisterServer(); }

STDAPI DllUnregisterServer() { return tarvo::UnregisterServer(); }
