// The server's registry entries, as regsvr32 and the DLL's own entry points
// leave them. Usage: registry_test DLL-PATH MODE, where MODE is
//   clean    delete whatever an earlier run left of the driver classes (no checks)
//   absent   no entry of any driver class exists, none points at DLL-PATH
//   present  every class the DLL offers is registered exactly, in this
//            architecture's registry view only; nothing else is
//   offered  print the ProgIDs of the classes the DLL offers, one a line
//   direct   DllRegisterServer and DllUnregisterServer called directly: a
//            failing write, and entries of other programs that must survive
// The prefix must hold no driver class entries when "direct" starts.
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "checks.h"
#include "expected_classes.h"
#include "server_module.h"

using namespace tarvo_test;

namespace {

std::wstring ClsidKey(const ExpectedClass& cls) { return std::wstring(L"CLSID\\") + cls.clsid; }

// The registry view of the other architecture: a 32-bit server's classes
// must not reach 64-bit hosts, nor the other way round.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

bool KeyExists(const std::wstring& path, REGSAM view = 0) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// A REG_SZ value; nullopt when the key or value is missing or of another type.
std::optional<std::wstring> ReadText(const std::wstring& path, const wchar_t* name) {
  wchar_t data[1024];
  DWORD bytes = sizeof data;
  DWORD type = 0;
  if (RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                   &bytes) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::nullopt;
  return std::wstring(data);
}

struct KeyCounts {
  long long subkeys = -1;
  long long values = -1;
};

KeyCounts Count(const std::wstring& path) {
  KeyCounts counts;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return counts;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                       nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    counts = {subkeys, values};
  RegCloseKey(key);
  return counts;
}

std::vector<std::wstring> Subkeys(const std::wstring& path) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return names;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    names.emplace_back(name, length);
  }
  RegCloseKey(key);
  return names;
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

const ExpectedClass* ByClsid(const std::wstring& clsid) {
  for (const ExpectedClass& cls : kExpectedClasses)
    if (SameText(cls.clsid, clsid)) return &cls;
  return nullptr;
}

const ExpectedClass* ByProgId(const std::wstring& progId) {
  for (const ExpectedClass& cls : kExpectedClasses)
    if (SameText(cls.progId, progId)) return &cls;
  return nullptr;
}

bool Contains(const std::vector<const ExpectedClass*>& classes, const ExpectedClass* cls) {
  for (const ExpectedClass* entry : classes)
    if (entry == cls) return true;
  return false;
}

void ExpectRegistered(Checks& checks, const ExpectedClass& cls, const std::wstring& dllPath) {
  const std::wstring clsidKey = ClsidKey(cls);
  const std::string label = Narrow(cls.progId) + ": ";
  struct Value {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
  };
  const Value values[] = {
      {clsidKey, nullptr, cls.progId},
      {clsidKey + L"\\InprocServer32", nullptr, dllPath},
      {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsidKey + L"\\ProgID", nullptr, cls.progId},
      {cls.progId, nullptr, cls.progId},
      {std::wstring(cls.progId) + L"\\CLSID", nullptr, cls.clsid},
  };
  for (const Value& value : values) {
    const std::string what = label + Narrow(value.key) + " " +
                             (value.name ? Narrow(value.name) : std::string("(default)"));
    checks.ExpectEqual(ReadText(value.key, value.name).value_or(L"<missing>"), value.data, what);
  }
  struct Shape {
    std::wstring key;
    KeyCounts counts;
  };
  const Shape shapes[] = {
      {clsidKey, {2, 1}},
      {clsidKey + L"\\InprocServer32", {0, 2}},
      {clsidKey + L"\\ProgID", {0, 1}},
      {cls.progId, {1, 1}},
      {std::wstring(cls.progId) + L"\\CLSID", {0, 1}},
  };
  for (const Shape& shape : shapes) {
    const KeyCounts counts = Count(shape.key);
    checks.ExpectEqual(counts.subkeys, shape.counts.subkeys,
                       label + Narrow(shape.key) + " subkeys");
    checks.ExpectEqual(counts.values, shape.counts.values, label + Narrow(shape.key) + " values");
  }
}

void ExpectUnregistered(Checks& checks, const ExpectedClass& cls) {
  checks.Expect(!KeyExists(ClsidKey(cls)), Narrow(ClsidKey(cls)) + " is absent");
  checks.Expect(!KeyExists(cls.progId), Narrow(cls.progId) + " is absent");
}

// Nothing outside the offered classes carries the server's name: no CLSID
// whose server is this DLL, no key with the server's ProgID prefix.
void ExpectNoStrayEntries(Checks& checks, const std::vector<const ExpectedClass*>& registered,
                          const std::wstring& dllPath) {
  for (const std::wstring& clsid : Subkeys(L"CLSID")) {
    const auto server = ReadText(L"CLSID\\" + clsid + L"\\InprocServer32", nullptr);
    if (!server || !SameText(*server, dllPath)) continue;
    checks.Expect(Contains(registered, ByClsid(clsid)),
                  "CLSID " + Narrow(clsid) + " names the DLL but is not an offered class");
  }
  const std::wstring prefix = kProgIdPrefix;
  for (const std::wstring& name : Subkeys(L"")) {
    if (!SameText(name.substr(0, prefix.size()), prefix)) continue;
    checks.Expect(Contains(registered, ByProgId(name)),
                  "key " + Narrow(name) + " is not the ProgID of an offered class");
  }
}

void Clean() {
  for (const ExpectedClass& cls : kExpectedClasses) {
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClsidKey(cls).c_str());
    RegDeleteKeyW(HKEY_CLASSES_ROOT, ClsidKey(cls).c_str());
    RegDeleteTreeW(HKEY_CLASSES_ROOT, cls.progId);
    RegDeleteKeyW(HKEY_CLASSES_ROOT, cls.progId);
  }
}

void Absent(Checks& checks, const std::wstring& dllPath) {
  for (const ExpectedClass& cls : kExpectedClasses) ExpectUnregistered(checks, cls);
  ExpectNoStrayEntries(checks, {}, dllPath);
}

void Present(Checks& checks, const ServerModule& module, const std::wstring& dllPath) {
  const auto offered = module.OfferedClasses();
  for (const ExpectedClass& cls : kExpectedClasses) {
    if (Contains(offered, &cls))
      ExpectRegistered(checks, cls, dllPath);
    else
      ExpectUnregistered(checks, cls);
    checks.Expect(!KeyExists(ClsidKey(cls), kOtherView),
                  Narrow(ClsidKey(cls)) + " is absent from the other architecture's view");
  }
  ExpectNoStrayEntries(checks, offered, dllPath);
}

// A write that fails: a volatile key where a class's CLSID key belongs
// cannot take the non-volatile InprocServer32 subkey.
void WriteFailure(Checks& checks, const ServerModule& module, const std::wstring& dllPath) {
  const auto offered = module.OfferedClasses();
  const ExpectedClass& blocked = *offered.front();
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, ClsidKey(blocked).c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                      KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS ||
      disposition != REG_CREATED_NEW_KEY) {
    std::printf("FATAL: cannot create a fresh volatile %s\n", Narrow(ClsidKey(blocked)).c_str());
    std::exit(2);
  }
  RegCloseKey(key);

  checks.ExpectHr(module.RegisterServer(), SELFREG_E_CLASS,
                  "DllRegisterServer with a failing write");
  ExpectUnregistered(checks, blocked);  // taken out again, not left half-written
  for (const ExpectedClass* cls : offered)
    if (cls != &blocked) ExpectRegistered(checks, *cls, dllPath);

  RegDeleteKeyW(HKEY_CLASSES_ROOT, ClsidKey(blocked).c_str());
  checks.ExpectHr(module.UnregisterServer(), S_OK, "DllUnregisterServer after a failed write");
  for (const ExpectedClass& cls : kExpectedClasses) ExpectUnregistered(checks, cls);
}

// Entries that another program added below the server's keys survive
// DllUnregisterServer; the server's own values do not.
void ForeignEntries(Checks& checks, const ServerModule& module) {
  checks.ExpectHr(module.RegisterServer(), S_OK, "DllRegisterServer");
  const ExpectedClass& cls = *module.OfferedClasses().front();
  const std::wstring foreignKey = ClsidKey(cls) + L"\\Implemented Categories";
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CLASSES_ROOT, foreignKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                  &key, nullptr);
  RegCloseKey(key);
  const wchar_t note[] = L"kept";
  RegSetKeyValueW(HKEY_CLASSES_ROOT, cls.progId, L"Foreign", REG_SZ, note, sizeof note);

  checks.ExpectHr(module.UnregisterServer(), S_OK, "DllUnregisterServer with foreign entries");
  checks.Expect(KeyExists(foreignKey), Narrow(foreignKey) + " is kept");
  checks.ExpectEqual(ReadText(cls.progId, L"Foreign").value_or(L"<missing>"), note,
                     Narrow(cls.progId) + " Foreign is kept");
  const std::wstring gone[] = {ClsidKey(cls) + L"\\InprocServer32", ClsidKey(cls) + L"\\ProgID",
                               std::wstring(cls.progId) + L"\\CLSID"};
  for (const std::wstring& path : gone)
    checks.Expect(!KeyExists(path), Narrow(path) + " is removed");
  checks.Expect(!ReadText(ClsidKey(cls), nullptr), Narrow(ClsidKey(cls)) + " (default) is removed");
  checks.Expect(!ReadText(cls.progId, nullptr), Narrow(cls.progId) + " (default) is removed");
  Clean();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::printf("usage: registry_test DLL-PATH clean|absent|present|offered|direct\n");
    return 2;
  }
  const std::wstring dllPath = argv[1];
  const std::wstring mode = argv[2];
  Checks checks;
  if (mode == L"clean") {
    Clean();
    return 0;
  }
  if (mode == L"absent") {
    Absent(checks, dllPath);
    return checks.Finish();
  }
  ServerModule module(dllPath);
  if (mode == L"offered") {
    for (const ExpectedClass* cls : module.OfferedClasses())
      std::printf("%s\n", Narrow(cls->progId).c_str());
    return 0;
  }
  if (mode == L"present") {
    Present(checks, module, dllPath);
  } else if (mode == L"direct") {
    WriteFailure(checks, module, dllPath);
    ForeignEntries(checks, module);
  } else {
    std::printf("unknown mode %s\n", Narrow(mode).c_str());
    return 2;
  }
  return checks.Finish();
}
