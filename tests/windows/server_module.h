// The server DLL loaded by path, with its exported entry points, as the
// tests call them directly (COM itself loads the same module by the path
// that registration wrote).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "expected_classes.h"

namespace tarvo_test {

class ServerModule {
 public:
  // Loads the DLL; ends the program (exit code 2) when the DLL or one of the
  // COM entry points cannot be found.
  explicit ServerModule(const std::wstring& path);
  ~ServerModule();
  ServerModule(const ServerModule&) = delete;
  ServerModule& operator=(const ServerModule&) = delete;

  HMODULE Handle() const { return module_; }
  HRESULT GetClassObject(const GUID& clsid, const IID& iid, void** object) const;
  HRESULT CanUnloadNow() const;
  HRESULT RegisterServer() const;
  HRESULT UnregisterServer() const;

  // The expected classes whose factory DllGetClassObject hands out, in table
  // order. Ends the program when it answers anything but a factory or
  // CLASS_E_CLASSNOTAVAILABLE, or when it offers none at all.
  std::vector<const ExpectedClass*> OfferedClasses() const;

 private:
  HMODULE module_;
  HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**);
  HRESULT(STDAPICALLTYPE* canUnloadNow_)();
  HRESULT(STDAPICALLTYPE* registerServer_)();
  HRESULT(STDAPICALLTYPE* unregisterServer_)();
};

}  // namespace tarvo_test
