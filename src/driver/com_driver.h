// ComDriver<Driver> turns a plain driver class into a COM object.
//
// It supplies the IIoDriver vtable, an empty automation IDispatch answered
// for the class's dispinterface, reference counting, the server lock, and a
// noexcept boundary at every slot: no exception ever reaches the host, and
// null record pointers fail the slot instead of crashing the host.
//
// Driver must derive from DriverBase, be default-constructible, declare
// `static constexpr const IID& kDispatchIid`, and offer
//   int32_t ParseItem(const char* address, IoItem* item);
//   int32_t ReadItem(IoItem* item, IoValue* value);
//   int32_t WriteItem(IoItem* item, IoValue* value);
// which are only called with non-null pointers.
#pragma once

#include <atomic>
#include <new>

#include "driver/driver_base.h"
#include "driver/server_lock.h"
#include "tarvo/com.h"
#include "tarvo/guids.h"
#include "tarvo/io_driver.h"

namespace tarvo {

template <class Driver>
class ComDriver final : public IIoDriver, public IDispatch {
 public:
  ComDriver() { LockServer(); }
  ~ComDriver() { UnlockServer(); }
  ComDriver(const ComDriver&) = delete;
  ComDriver& operator=(const ComDriver&) = delete;

  // Creates an object and returns its interface iid in *object. A
  // constructor that cannot get its memory gives E_OUTOFMEMORY.
  static HRESULT Create(REFIID iid, void** object) noexcept {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    ComDriver* created = nullptr;
    try {
      created = new ComDriver;
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    const HRESULT result = created->QueryInterface(iid, object);
    created->Release();  // the query holds the reference on success
    return result;
  }

  Driver& driver() { return driver_; }

  // IUnknown, shared by both vtables. IUnknown is the IIoDriver part.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    if (iid == Driver::kDispatchIid || iid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
    } else if (iid == IID_IIoDriver || iid == IID_IUnknown) {
      *object = static_cast<IIoDriver*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  // IIoDriver.
  int32_t STDMETHODCALLTYPE ReservedA(int32_t) noexcept override { return 1; }
  int32_t STDMETHODCALLTYPE ReservedB(int32_t, int32_t) noexcept override { return 1; }

  int32_t STDMETHODCALLTYPE OpenPort(PortConfig* config) noexcept override {
    if (config == nullptr) return driver_.Fail(ErrCreatePort);
    return Guard(ErrCreatePort, [&] { return driver_.OpenPort(config); });
  }
  void STDMETHODCALLTYPE GetRegisterTable(RegisterDesc** table, int16_t* count) noexcept override {
    driver_.GetRegisterTable(table, count);
  }
  int32_t STDMETHODCALLTYPE ParseItem(const char* address, IoItem* item) noexcept override {
    if (address == nullptr || item == nullptr) return driver_.Fail(ErrRegisterName);
    return Guard(ErrRegisterName, [&] { return driver_.ParseItem(address, item); });
  }
  int32_t STDMETHODCALLTYPE ReadItem(int32_t, IoItem* item, IoValue* value) noexcept override {
    if (item == nullptr || value == nullptr) return driver_.Fail(ErrReadData);
    return Guard(ErrReadData, [&] { return driver_.ReadItem(item, value); });
  }
  int32_t STDMETHODCALLTYPE WriteItem(int32_t, IoItem* item, IoValue* value) noexcept override {
    if (item == nullptr || value == nullptr) return driver_.Fail(ErrPortWrite);
    return Guard(ErrPortWrite, [&] { return driver_.WriteItem(item, value); });
  }
  int32_t STDMETHODCALLTYPE ClosePort(int32_t) noexcept override {
    try {
      driver_.ClosePort();
    } catch (...) {
    }
    return 1;
  }
  const char* STDMETHODCALLTYPE GetErrorText() noexcept override { return driver_.GetErrorText(); }

  // IDispatch: the dispinterface declares no members.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info != nullptr) *info = nullptr;
    return DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT count, LCID,
                                          DISPID* ids) noexcept override {
    if (ids != nullptr)
      for (UINT i = 0; i < count; ++i) ids[i] = -1;  // DISPID_UNKNOWN
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) noexcept override {
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  // Runs a driver operation; an escaping exception (allocation failure is
  // the only one the drivers can raise) becomes result 0 with code fallback.
  template <class Operation>
  int32_t Guard(DriverError fallback, Operation&& operation) noexcept {
    try {
      return operation();
    } catch (...) {
      return driver_.Fail(fallback);
    }
  }

  std::atomic<ULONG> refs_{1};
  Driver driver_;
};

}  // namespace tarvo
