// IIoDriver: the one vtable interface every driver object hands out.
//
// Slot order is fixed (IUnknown first). Operations return 1 for success and
// 0 for failure and keep the reason as a DriverError code in the object until
// GetErrorText returns its text and resets it. Every call blocks the calling
// thread for the waits its protocol prescribes.
//
// Threads: the objects on one line (the object that opened it and those that
// adopted its SharedHandle) must be called from one thread at a time.
// Different lines may be polled from different threads at once, while other
// threads create and release objects; what a class keeps of a module is kept
// per line, so every value read is its own line's. TarvoSetTraceHandler and
// TarvoSetPortDevice may be called at any time.
#pragma once

#include <stdint.h>

#include "tarvo/com.h"
#include "tarvo/records.h"

#ifdef __cplusplus
namespace tarvo {

struct IIoDriver : IUnknown {
  // Ignores its argument; returns 1; leaves the error code alone.
  virtual int32_t STDMETHODCALLTYPE ReservedA(int32_t unused) = 0;
  // Opens the line described by config, or adopts config->SharedHandle.
  virtual int32_t STDMETHODCALLTYPE OpenPort(PortConfig* config) = 0;
  // Hands out the object's register table; the object keeps ownership.
  virtual void STDMETHODCALLTYPE GetRegisterTable(RegisterDesc** table, int16_t* count) = 0;
  // Parses an item address such as "TA5.1.2" into *item.
  virtual int32_t STDMETHODCALLTYPE ParseItem(const char* address, IoItem* item) = 0;
  // Ignores its arguments; returns 1; leaves the error code alone.
  virtual int32_t STDMETHODCALLTYPE ReservedB(int32_t unused1, int32_t unused2) = 0;
  // Reads the item's current value into *value.
  virtual int32_t STDMETHODCALLTYPE ReadItem(int32_t unused, IoItem* item, IoValue* value) = 0;
  // Writes value->DiscreteValue to the item (families with outputs).
  virtual int32_t STDMETHODCALLTYPE WriteItem(int32_t unused, IoItem* item, IoValue* value) = 0;
  // Closes the object's line if it has one; always returns 1.
  virtual int32_t STDMETHODCALLTYPE ClosePort(int32_t unused) = 0;
  // Returns the stored code's static text and resets the code to 0.
  virtual const char* STDMETHODCALLTYPE GetErrorText() = 0;
};

}  // namespace tarvo

#else

// The same slots for C: driver->lpVtbl->ReadItem(driver, 0, &item, &value).
typedef struct IIoDriver IIoDriver;
typedef struct IIoDriverVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IIoDriver* This, REFIID iid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(IIoDriver* This);
  ULONG(STDMETHODCALLTYPE* Release)(IIoDriver* This);
  int32_t(STDMETHODCALLTYPE* ReservedA)(IIoDriver* This, int32_t unused);
  int32_t(STDMETHODCALLTYPE* OpenPort)(IIoDriver* This, PortConfig* config);
  void(STDMETHODCALLTYPE* GetRegisterTable)(IIoDriver* This, RegisterDesc** table, int16_t* count);
  int32_t(STDMETHODCALLTYPE* ParseItem)(IIoDriver* This, const char* address, IoItem* item);
  int32_t(STDMETHODCALLTYPE* ReservedB)(IIoDriver* This, int32_t unused1, int32_t unused2);
  int32_t(STDMETHODCALLTYPE* ReadItem)(IIoDriver* This, int32_t unused, IoItem* item,
                                       IoValue* value);
  int32_t(STDMETHODCALLTYPE* WriteItem)(IIoDriver* This, int32_t unused, IoItem* item,
                                        IoValue* value);
  int32_t(STDMETHODCALLTYPE* ClosePort)(IIoDriver* This, int32_t unused);
  const char*(STDMETHODCALLTYPE* GetErrorText)(IIoDriver* This);
} IIoDriverVtbl;
struct IIoDriver {
  IIoDriverVtbl* lpVtbl;
};

#endif
