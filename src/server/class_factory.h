// One class factory per driver class. The factories are static: reference
// counting does not free them, and LockServer adds to the server's lock.
#pragma once

#include "server/server_classes.h"
#include "tarvo/com.h"

namespace tarvo {

class ClassFactory final : public IClassFactory {
 public:
  explicit ClassFactory(const ServerClass& cls) : class_(cls) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return 2; }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid,
                                           void** object) noexcept override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

 private:
  const ServerClass& class_;
};

// The factory of the class with this CLSID, or null.
ClassFactory* FindClassFactory(REFCLSID clsid);

}  // namespace tarvo
