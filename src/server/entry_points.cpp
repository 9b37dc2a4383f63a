// The exported COM server entry points, each exported by its definition
// (TARVO_API) in the platform's calling convention.
#include "driver/server_lock.h"
#include "server/class_factory.h"
#include "server/registration.h"
#include "tarvo/tarvo.h"

#define TARVO_ENTRY_POINT extern "C" TARVO_API HRESULT STDAPICALLTYPE

TARVO_ENTRY_POINT DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
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

TARVO_ENTRY_POINT DllCanUnloadNow() { return tarvo::ServerLocked() ? S_FALSE : S_OK; }

TARVO_ENTRY_POINT DllRegisterServer() { return tarvo::RegisterServer(); }

TARVO_ENTRY_POINT DllUnregisterServer() { return tarvo::UnregisterServer(); }
