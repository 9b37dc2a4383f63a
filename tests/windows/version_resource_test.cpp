// The DLL's version resource, read back as installers and hosts read it.
// Usage: version_resource_test DLL-PATH
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "checks.h"

using namespace tarvo_test;

namespace {

std::wstring Text(const std::vector<BYTE>& block, const std::wstring& name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length)) return L"<missing>";
  // length counts the terminating NUL when there is one.
  std::wstring text(static_cast<const wchar_t*>(value), length);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: version_resource_test DLL-PATH\n");
    return 2;
  }
  Checks checks;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  checks.Expect(size > 0, "the DLL has a version resource");
  std::vector<BYTE> block(size);
  if (size == 0 || !GetFileVersionInfoW(argv[1], 0, size, block.data())) return checks.Finish();

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  checks.Expect(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
                    fixed != nullptr,
                "fixed version block");
  if (fixed != nullptr) {
    checks.ExpectEqual(fixed->dwFileVersionMS, 0x00010000, "file version 1.0");
    checks.ExpectEqual(fixed->dwFileVersionLS, 0x00000001, "file version .0.1");
    checks.ExpectEqual(fixed->dwProductVersionMS, 0x00010000, "product version 1.0");
    checks.ExpectEqual(fixed->dwProductVersionLS, 0x00000001, "product version .0.1");
    checks.ExpectEqual(fixed->dwFileType, VFT_DLL, "file type");
  }

  DWORD* translation = nullptr;
  checks.Expect(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length) &&
                    length == 4,
                "one translation");
  if (translation != nullptr && length == 4)
    checks.ExpectEqual(*translation, 0x04B00409, "translation: US English, Unicode");

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"FileDescription", L"Tarvo DLL"},
      {L"FileVersion", L"1, 0, 0, 1"},
      {L"InternalName", L"Tarvo"},
      {L"OriginalFilename", L"Tarvo.DLL"},
      {L"ProductName", L"Tarvo Dynamic Link Library"},
      {L"ProductVersion", L"1, 0, 0, 1"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& [name, value] : strings)
    checks.ExpectEqual(Text(block, name), value, Narrow(name));
  return checks.Finish();
}
