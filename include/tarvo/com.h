// COM types the host ABI is written in.
//
// On Windows these are the platform's own headers. Elsewhere this file gives
// a minimal, layout-compatible equivalent: GUID, HRESULT and its constants,
// IUnknown, IClassFactory and IDispatch with the standard slot order.
//
// The headers of include/tarvo/ serve C hosts too. In C an interface is a
// struct whose first member, lpVtbl, points to its table of functions, each
// taking the object as its first argument, as the platform's C bindings do:
// factory->lpVtbl->CreateInstance(factory, NULL, &IID_IIoDriver, &object).
// References to GUIDs are pointers there (the same at the binary level), and
// constants are static const rather than inline constexpr. IDispatch is
// declared for C++ only.
#pragma once

#ifdef __cplusplus
#define TARVO_CONST inline constexpr
#else
#define TARVO_CONST static const
#endif

#ifdef _WIN32

#include <oaidl.h>
#include <objbase.h>
#include <unknwn.h>
#include <windows.h>

#else

#include <stdint.h>

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int32_t BOOL;
typedef uint32_t UINT;
typedef uint16_t WORD;
typedef uint32_t LCID;
typedef int32_t DISPID;
typedef void* HANDLE;

typedef struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
} GUID;
typedef GUID IID;
typedef GUID CLSID;

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE

#ifdef __cplusplus

typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

#define STDAPI extern "C" HRESULT

#else

typedef const GUID* REFGUID;
typedef const IID* REFIID;
typedef const CLSID* REFCLSID;

#define STDAPI extern HRESULT

#endif

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define SELFREG_E_CLASS ((HRESULT)0x80040201L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#ifdef __cplusplus

typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;

// Opaque automation types: the library never looks inside them.
struct ITypeInfo;
struct DISPPARAMS;
struct VARIANT;
struct EXCEPINFO;

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct IClassFactory : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count,
                                                  LCID locale, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* exception, UINT* argError) = 0;
};

inline constexpr IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#else

typedef struct IUnknown IUnknown;
typedef struct IUnknownVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IUnknown* This, REFIID iid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(IUnknown* This);
  ULONG(STDMETHODCALLTYPE* Release)(IUnknown* This);
} IUnknownVtbl;
struct IUnknown {
  IUnknownVtbl* lpVtbl;
};

typedef struct IClassFactory IClassFactory;
typedef struct IClassFactoryVtbl {
  HRESULT(STDMETHODCALLTYPE* QueryInterface)(IClassFactory* This, REFIID iid, void** object);
  ULONG(STDMETHODCALLTYPE* AddRef)(IClassFactory* This);
  ULONG(STDMETHODCALLTYPE* Release)(IClassFactory* This);
  HRESULT(STDMETHODCALLTYPE* CreateInstance)
  (IClassFactory* This, IUnknown* outer, REFIID iid, void** object);
  HRESULT(STDMETHODCALLTYPE* LockServer)(IClassFactory* This, BOOL lock);
} IClassFactoryVtbl;
struct IClassFactory {
  IClassFactoryVtbl* lpVtbl;
};

#endif

TARVO_CONST IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
TARVO_CONST IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

#endif
