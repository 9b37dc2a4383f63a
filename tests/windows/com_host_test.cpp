// A host's view of the registered server: creation through COM by CLSID and
// by ProgID, the interfaces each object answers, the empty automation
// interface, and when the DLL may be unloaded.
// Usage: com_host_test DLL-PATH (the path the server was registered with).
#include <ocidl.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "checks.h"
#include "expected_classes.h"
#include "server_module.h"
#include "tarvo/io_driver.h"

using namespace tarvo_test;

namespace {

const char* const kExports[] = {"DllGetClassObject",  "DllCanUnloadNow",
                                "DllRegisterServer",  "DllUnregisterServer",
                                "TarvoSetPortDevice", "TarvoSetTraceHandler"};

void ExpectExports(Checks& checks, HMODULE module) {
  for (const char* name : kExports)
    checks.Expect(GetProcAddress(module, name) != nullptr, std::string("export ") + name);
}

// CLSIDs the server must refuse: near misses taken from its own identifiers.
void ExpectUnknownClassesRefused(Checks& checks, const ServerModule& module) {
  const GUID refused[] = {ParseGuid(kIoDriverIid), ParseGuid(kExpectedClasses[0].dispinterfaceIid),
                          ParseGuid(kTypeLibraryId), GUID_NULL};
  for (const GUID& clsid : refused) {
    void* factory = &checks;
    checks.ExpectHr(module.GetClassObject(clsid, IID_IClassFactory, &factory),
                    CLASS_E_CLASSNOTAVAILABLE, "DllGetClassObject " + Narrow(GuidText(clsid)));
    checks.Expect(factory == nullptr,
                  "DllGetClassObject " + Narrow(GuidText(clsid)) + " clears out");
  }
}

template <class Interface>
Interface* Query(Checks& checks, IUnknown* object, const IID& iid, const std::string& what) {
  void* result = nullptr;
  checks.ExpectHr(object->QueryInterface(iid, &result), S_OK, what);
  return static_cast<Interface*>(result);
}

IUnknown* Identity(IUnknown* object) {
  IUnknown* identity = nullptr;
  if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
    return nullptr;
  identity->Release();
  return identity;
}

// The interfaces one object answers, and those it refuses.
void ExpectInterfaces(Checks& checks, const ExpectedClass& cls, IUnknown* object) {
  const std::string label = Narrow(cls.progId) + ": ";
  auto* driver =
      Query<tarvo::IIoDriver>(checks, object, ParseGuid(kIoDriverIid), label + "IIoDriver");
  auto* dispatch = Query<IDispatch>(checks, object, IID_IDispatch, label + "IDispatch");
  auto* dispinterface = Query<IDispatch>(checks, object, ParseGuid(cls.dispinterfaceIid),
                                         label + Narrow(cls.dispinterface));
  if (driver == nullptr || dispatch == nullptr || dispinterface == nullptr) {
    for (IUnknown* held : {static_cast<IUnknown*>(driver), static_cast<IUnknown*>(dispatch),
                           static_cast<IUnknown*>(dispinterface)})
      if (held != nullptr) held->Release();
    return;
  }

  checks.Expect(dispinterface == dispatch, label + "the dispinterface is the automation IDispatch");
  checks.Expect(Identity(driver) == object && Identity(dispatch) == object,
                label + "every interface leads back to one IUnknown");

  // Refused: interfaces a COM runtime or host probes for, and the other
  // classes' dispinterfaces.
  IID refused[8] = {IID_IClassFactory, IID_IPersist, IID_IMarshal, IID_IProvideClassInfo};
  int count = 4;
  for (const ExpectedClass& other : kExpectedClasses)
    if (&other != &cls) refused[count++] = ParseGuid(other.dispinterfaceIid);
  for (int i = 0; i < count; ++i) {
    void* result = &checks;
    checks.ExpectHr(object->QueryInterface(refused[i], &result), E_NOINTERFACE,
                    label + "QueryInterface " + Narrow(GuidText(refused[i])));
    checks.Expect(result == nullptr, label + "a refused QueryInterface clears out");
  }

  // The dispatch table is empty.
  const wchar_t* names[] = {L"OpenPort", L"ReadItem", L"GetErrorText", L"Value"};
  for (const wchar_t* name : names) {
    LPOLESTR nameList[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 12345;
    checks.ExpectHr(dispatch->GetIDsOfNames(IID_NULL, nameList, 1, LOCALE_USER_DEFAULT, &id),
                    DISP_E_UNKNOWNNAME, label + "GetIDsOfNames " + Narrow(name));
    checks.ExpectEqual(id, DISPID_UNKNOWN, label + "GetIDsOfNames " + Narrow(name) + " id");
  }
  for (DISPID id : {DISPID_VALUE, 1, 0x60020000}) {
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    checks.ExpectHr(dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                                     nullptr, nullptr, nullptr),
                    DISP_E_MEMBERNOTFOUND, label + "Invoke " + std::to_string(id));
  }

  // IIoDriver acts on this object: an error stored through one IIoDriver
  // pointer is read back through another reached via IDispatch.
  auto* again = Query<tarvo::IIoDriver>(checks, dispatch, ParseGuid(kIoDriverIid),
                                        label + "IIoDriver through IDispatch");
  if (again != nullptr) {
    checks.ExpectEqual(driver->ReservedA(7), 1, label + "ReservedA");
    checks.Expect(std::strcmp(driver->GetErrorText(), "OK") == 0,
                  label + "a new object has no error");
    tarvo::IoItem item{};
    checks.ExpectEqual(driver->ParseItem("", &item), 0, label + "ParseItem of an empty address");
    checks.Expect(std::strcmp(again->GetErrorText(), "OK") != 0,
                  label + "the error is the same object's");
    checks.Expect(std::strcmp(driver->GetErrorText(), "OK") == 0,
                  label + "reading the error reset it");
    again->Release();
  }
  driver->Release();
  dispatch->Release();
  dispinterface->Release();
}

void ExpectCreation(Checks& checks, const ExpectedClass& cls) {
  const std::string label = Narrow(cls.progId) + ": ";
  const CLSID clsid = ParseGuid(cls.clsid);
  CLSID fromProgId = GUID_NULL;
  checks.ExpectHr(CLSIDFromProgID(cls.progId, &fromProgId), S_OK, label + "CLSIDFromProgID");
  checks.ExpectEqual(GuidText(fromProgId), cls.clsid, label + "CLSIDFromProgID");

  IUnknown* object = nullptr;
  checks.ExpectHr(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  S_OK, label + "CoCreateInstance by CLSID");
  if (object != nullptr) {
    ExpectInterfaces(checks, cls, object);
    checks.ExpectEqual(object->Release(), 0, label + "the last Release");
  }

  tarvo::IIoDriver* driver = nullptr;
  checks.ExpectHr(CoCreateInstance(fromProgId, nullptr, CLSCTX_ALL, ParseGuid(kIoDriverIid),
                                   reinterpret_cast<void**>(&driver)),
                  S_OK, label + "CoCreateInstance by ProgID for IIoDriver");
  if (driver != nullptr) checks.ExpectEqual(driver->Release(), 0, label + "the last Release");
}

// A class this build does not offer is unknown to COM as well.
void ExpectNotRegistered(Checks& checks, const ExpectedClass& cls) {
  const std::string label = Narrow(cls.progId) + " (not offered): ";
  CLSID fromProgId = GUID_NULL;
  checks.ExpectHr(CLSIDFromProgID(cls.progId, &fromProgId), CO_E_CLASSSTRING,
                  label + "CLSIDFromProgID");
  IUnknown* object = nullptr;
  checks.ExpectHr(CoCreateInstance(ParseGuid(cls.clsid), nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IUnknown, reinterpret_cast<void**>(&object)),
                  REGDB_E_CLASSNOTREG, label + "CoCreateInstance");
}

// DllCanUnloadNow answers S_FALSE exactly while an object lives or a
// factory lock is held.
void ExpectUnloadRule(Checks& checks, const ServerModule& module, const ExpectedClass& cls) {
  const std::string label = Narrow(cls.progId) + ": DllCanUnloadNow ";
  const CLSID clsid = ParseGuid(cls.clsid);
  checks.ExpectHr(module.CanUnloadNow(), S_OK, label + "with no object");

  IUnknown* first = nullptr;
  IUnknown* second = nullptr;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                   reinterpret_cast<void**>(&first));
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                   reinterpret_cast<void**>(&second));
  checks.Expect(first != nullptr && second != nullptr && first != second,
                label + "two creations give two objects");
  if (first == nullptr || second == nullptr) return;
  checks.ExpectHr(module.CanUnloadNow(), S_FALSE, label + "with two objects");

  IClassFactory* factory = nullptr;
  checks.ExpectHr(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory)),
                  S_OK, label + "CoGetClassObject");
  if (factory != nullptr) {
    void* aggregated = &checks;
    checks.ExpectHr(factory->CreateInstance(second, IID_IUnknown, &aggregated),
                    CLASS_E_NOAGGREGATION, label + "CreateInstance with an outer object");
    checks.Expect(aggregated == nullptr, label + "a refused CreateInstance clears out");
  }

  first->Release();
  checks.ExpectHr(module.CanUnloadNow(), S_FALSE, label + "with one object");
  second->Release();
  checks.ExpectHr(module.CanUnloadNow(), S_OK, label + "after the last Release");

  if (factory == nullptr) return;
  checks.ExpectHr(factory->LockServer(TRUE), S_OK, label + "LockServer(TRUE)");
  checks.ExpectHr(module.CanUnloadNow(), S_FALSE, label + "while locked");
  checks.ExpectHr(factory->LockServer(FALSE), S_OK, label + "LockServer(FALSE)");
  checks.ExpectHr(module.CanUnloadNow(), S_OK, label + "after unlocking");
  factory->Release();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: com_host_test DLL-PATH\n");
    return 2;
  }
  Checks checks;
  checks.ExpectHr(CoInitialize(nullptr), S_OK, "CoInitialize");
  {
    // Loaded by the same path as COM loads it: one module, one lock count.
    ServerModule module(argv[1]);
    ExpectExports(checks, module.Handle());
    ExpectUnknownClassesRefused(checks, module);
    const auto offered = module.OfferedClasses();
    for (const ExpectedClass& cls : kExpectedClasses) {
      if (std::find(offered.begin(), offered.end(), &cls) == offered.end()) {
        ExpectNotRegistered(checks, cls);
        continue;
      }
      ExpectCreation(checks, cls);
      ExpectUnloadRule(checks, module, cls);
    }
  }
  CoUninitialize();
  return checks.Finish();
}
