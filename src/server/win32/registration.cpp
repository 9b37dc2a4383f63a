// Registry entries of the driver classes (written by regsvr32).
//
// For each class, under HKEY_CLASSES_ROOT:
//   CLSID\{clsid}                  (default) = ProgID
//   CLSID\{clsid}\InprocServer32   (default) = path of this DLL, ThreadingModel = "Apartment"
//   CLSID\{clsid}\ProgID           (default) = ProgID
//   <ProgID>                       (default) = ProgID
//   <ProgID>\CLSID                 (default) = {clsid}
// Removal deletes exactly these values, then each of these keys that is left
// empty; whatever another program added under them stays.
#include "server/registration.h"

#include <olectl.h>

#include <string>
#include <vector>

#include "server/server_classes.h"
#include "server/win32/module_path.h"

namespace tarvo {
namespace {

struct Entry {
  std::wstring key;     // below HKEY_CLASSES_ROOT
  const wchar_t* name;  // null: the key's default value
  std::wstring data;
};

// ProgIDs are plain ASCII.
std::wstring Widen(const char* text) {
  return std::wstring(text, text + std::char_traits<char>::length(text));
}

std::wstring GuidText(const GUID& guid) {
  wchar_t text[39];
  StringFromGUID2(guid, text, 39);
  return text;
}

// The entries of one class, parents before children.
std::vector<Entry> ClassEntries(const ServerClass& cls, const std::wstring& modulePath) {
  const std::wstring progId = Widen(cls.progId);
  const std::wstring clsid = GuidText(*cls.clsid);
  const std::wstring clsidKey = L"CLSID\\" + clsid;
  return {
      {clsidKey, nullptr, progId},
      {clsidKey + L"\\InprocServer32", nullptr, modulePath},
      {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
      {clsidKey + L"\\ProgID", nullptr, progId},
      {progId, nullptr, progId},
      {progId + L"\\CLSID", nullptr, clsid},
  };
}

bool Write(const Entry& entry) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return false;
  const auto bytes = static_cast<DWORD>((entry.data.size() + 1) * sizeof(wchar_t));
  const LSTATUS status = RegSetValueExW(key, entry.name, 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(entry.data.c_str()), bytes);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool Gone(LSTATUS status) { return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND; }

bool DeleteValue(const Entry& entry) {
  HKEY key = nullptr;
  const LSTATUS opened =
      RegOpenKeyExW(HKEY_CLASSES_ROOT, entry.key.c_str(), 0, KEY_SET_VALUE, &key);
  if (opened != ERROR_SUCCESS) return Gone(opened);
  const LSTATUS status = RegDeleteValueW(key, entry.name);
  RegCloseKey(key);
  return Gone(status);
}

// Deletes the key if it holds neither subkeys nor values.
bool DeleteKeyIfEmpty(const std::wstring& path) {
  HKEY key = nullptr;
  const LSTATUS opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE, &key);
  if (opened != ERROR_SUCCESS) return Gone(opened);
  DWORD subkeys = 0;
  DWORD values = 0;
  const LSTATUS queried = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr,
                                           nullptr, &values, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  if (queried != ERROR_SUCCESS) return false;
  if (subkeys != 0 || values != 0) return true;
  return Gone(RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str()));
}

bool Remove(const std::vector<Entry>& entries) {
  bool removed = true;
  for (const Entry& entry : entries) removed = DeleteValue(entry) && removed;
  // Children were written after their parents: walk back so that each key
  // is empty by the time it is reached.
  const std::wstring* previous = nullptr;
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (previous != nullptr && *previous == entry->key) continue;
    previous = &entry->key;
    removed = DeleteKeyIfEmpty(entry->key) && removed;
  }
  return removed;
}

// A class whose entries cannot all be written is taken out again, so that no
// half-registered class points COM at a wrong or missing server.
bool Register(const ServerClass& cls, const std::wstring& modulePath) {
  const std::vector<Entry> entries = ClassEntries(cls, modulePath);
  for (const Entry& entry : entries) {
    if (!Write(entry)) {
      Remove(entries);
      return false;
    }
  }
  return true;
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty()) return SELFREG_E_CLASS;
    bool registered = true;
    for (const ServerClass& cls : ServerClasses())
      registered = Register(cls, modulePath) && registered;
    return registered ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

HRESULT UnregisterServer() noexcept {
  try {
    bool removed = true;
    for (const ServerClass& cls : ServerClasses())
      removed = Remove(ClassEntries(cls, std::wstring())) && removed;
    return removed ? S_OK : SELFREG_E_CLASS;
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace tarvo
