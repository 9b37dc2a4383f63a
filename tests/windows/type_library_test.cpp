// The type library embedded in the DLL, read back through the platform's
// type-library loader. Usage: type_library_test DLL-PATH
#include <windows.h>

#include <cstdio>
#include <string>

#include "checks.h"
#include "expected_classes.h"

using namespace tarvo_test;

namespace {

const ExpectedClass& ByCoclass(const wchar_t* coclass) {
  for (const ExpectedClass& cls : kExpectedClasses)
    if (std::wstring(cls.coclass) == coclass) return cls;
  std::printf("FATAL: no expected class for coclass %s\n", Narrow(coclass).c_str());
  std::exit(2);
}

std::wstring Take(BSTR text) {
  std::wstring taken = text ? std::wstring(text, SysStringLen(text)) : L"<null>";
  SysFreeString(text);
  return taken;
}

bool IsInherited(const std::wstring& method) {
  const wchar_t* const inherited[] = {
      L"QueryInterface", L"AddRef",        L"Release", L"GetTypeInfoCount",
      L"GetTypeInfo",    L"GetIDsOfNames", L"Invoke"};
  for (const wchar_t* name : inherited)
    if (method == name) return true;
  return false;
}

struct Documentation {
  std::wstring name;
  std::wstring doc;
  std::wstring helpFile;
  DWORD helpContext = 0;
};

template <class Source>
Documentation Document(Source* source, INT index) {
  BSTR name = nullptr;
  BSTR doc = nullptr;
  BSTR helpFile = nullptr;
  Documentation result;
  source->GetDocumentation(index, &name, &doc, &result.helpContext, &helpFile);
  result.name = Take(name);
  result.doc = Take(doc);
  result.helpFile = Take(helpFile);
  return result;
}

Documentation Document(ITypeInfo* info) {
  BSTR name = nullptr;
  BSTR doc = nullptr;
  BSTR helpFile = nullptr;
  Documentation result;
  info->GetDocumentation(MEMBERID_NIL, &name, &doc, &result.helpContext, &helpFile);
  result.name = Take(name);
  result.doc = Take(doc);
  result.helpFile = Take(helpFile);
  return result;
}

void ExpectNoHelp(Checks& checks, const Documentation& doc, const std::string& what) {
  checks.ExpectEqual(doc.doc, L"<null>", what + " help string");
  checks.ExpectEqual(doc.helpFile, L"<null>", what + " help file");
  checks.ExpectEqual(doc.helpContext, 0, what + " help context");
}

// The one type an interface or coclass implements: its GUID, name and
// implementation flags.
struct Implemented {
  std::wstring guid = L"<none>";
  std::wstring name = L"<none>";
  INT flags = -1;
};

Implemented ImplementedType(ITypeInfo* info) {
  Implemented result;
  HREFTYPE ref = 0;
  ITypeInfo* base = nullptr;
  if (FAILED(info->GetRefTypeOfImplType(0, &ref)) || FAILED(info->GetRefTypeInfo(ref, &base)))
    return result;
  info->GetImplTypeFlags(0, &result.flags);
  TYPEATTR* attributes = nullptr;
  if (SUCCEEDED(base->GetTypeAttr(&attributes))) {
    result.guid = GuidText(attributes->guid);
    base->ReleaseTypeAttr(attributes);
  }
  result.name = Document(base).name;
  base->Release();
  return result;
}

void ExpectDispinterface(Checks& checks, ITypeInfo* info, const ExpectedClass& cls) {
  const std::string label = "dispinterface " + Narrow(cls.dispinterface) + ": ";
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) {
    checks.Expect(false, label + "GetTypeAttr");
    return;
  }
  checks.ExpectEqual(attributes->typekind, TKIND_DISPATCH, label + "kind");
  checks.ExpectEqual(GuidText(attributes->guid), cls.dispinterfaceIid, label + "GUID");
  checks.ExpectEqual(attributes->wTypeFlags & TYPEFLAG_FDISPATCHABLE, TYPEFLAG_FDISPATCHABLE,
                     label + "dispatchable");
  checks.ExpectEqual(attributes->wTypeFlags & TYPEFLAG_FDUAL, 0, label + "not dual");
  checks.ExpectEqual(attributes->cImplTypes, 1, label + "bases");
  checks.ExpectEqual(attributes->cVars, 0, label + "properties");
  const WORD functions = attributes->cFuncs;
  info->ReleaseTypeAttr(attributes);
  // Type-library compilers differ in whether a dispinterface lists the
  // IDispatch members it inherits; it must list nothing else.
  for (WORD index = 0; index < functions; ++index) {
    FUNCDESC* function = nullptr;
    std::wstring name = L"<unnamed>";
    if (SUCCEEDED(info->GetFuncDesc(index, &function))) {
      BSTR names[1] = {nullptr};
      UINT count = 0;
      if (SUCCEEDED(info->GetNames(function->memid, names, 1, &count)) && count == 1)
        name = Take(names[0]);
      info->ReleaseFuncDesc(function);
    }
    checks.Expect(IsInherited(name), label + "declares no method, found " + Narrow(name));
  }

  const Implemented base = ImplementedType(info);
  checks.ExpectEqual(base.name, L"IDispatch", label + "base");
  checks.ExpectEqual(base.guid, L"{00020400-0000-0000-C000-000000000046}", label + "base GUID");
  ExpectNoHelp(checks, Document(info), label);
}

void ExpectCoclass(Checks& checks, ITypeInfo* info, const ExpectedClass& cls) {
  const std::string label = "coclass " + Narrow(cls.coclass) + ": ";
  TYPEATTR* attributes = nullptr;
  if (FAILED(info->GetTypeAttr(&attributes))) {
    checks.Expect(false, label + "GetTypeAttr");
    return;
  }
  checks.ExpectEqual(attributes->typekind, TKIND_COCLASS, label + "kind");
  checks.ExpectEqual(GuidText(attributes->guid), cls.clsid, label + "GUID");
  checks.ExpectEqual(attributes->wTypeFlags & TYPEFLAG_FCANCREATE, TYPEFLAG_FCANCREATE,
                     label + "creatable");
  checks.ExpectEqual(attributes->cImplTypes, 1, label + "interfaces");
  info->ReleaseTypeAttr(attributes);

  const Implemented implemented = ImplementedType(info);
  checks.ExpectEqual(implemented.name, cls.dispinterface, label + "interface");
  checks.ExpectEqual(implemented.guid, cls.dispinterfaceIid, label + "interface GUID");
  checks.ExpectEqual(implemented.flags, IMPLTYPEFLAG_FDEFAULT, label + "interface flags");
  ExpectNoHelp(checks, Document(info), label);
}

void ExpectLibrary(Checks& checks, ITypeLib* library) {
  TLIBATTR* attributes = nullptr;
  if (FAILED(library->GetLibAttr(&attributes))) {
    checks.Expect(false, "GetLibAttr");
    return;
  }
  checks.ExpectEqual(GuidText(attributes->guid), kTypeLibraryId, "LIBID");
  checks.ExpectEqual(attributes->lcid, 0x0409, "locale");
  checks.ExpectEqual(attributes->wMajorVerNum, 1, "major version");
  checks.ExpectEqual(attributes->wMinorVerNum, 0, "minor version");
  checks.ExpectEqual(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, "system");
  library->ReleaseTLibAttr(attributes);

  const Documentation doc = Document(library, -1);
  checks.ExpectEqual(doc.name, L"Tarvo", "library name");
  ExpectNoHelp(checks, doc, "library");

  const UINT count = library->GetTypeInfoCount();
  checks.ExpectEqual(count, 2 * std::size(kTypeLibraryOrder), "type count");
  for (UINT index = 0; index < count && index / 2 < std::size(kTypeLibraryOrder); ++index) {
    const ExpectedClass& cls = ByCoclass(kTypeLibraryOrder[index / 2]);
    const bool coclass = index % 2 == 1;
    checks.ExpectEqual(Document(library, static_cast<INT>(index)).name,
                       coclass ? cls.coclass : cls.dispinterface,
                       "name of type " + std::to_string(index));
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(index, &info))) {
      checks.Expect(false, "GetTypeInfo " + std::to_string(index));
      continue;
    }
    if (coclass)
      ExpectCoclass(checks, info, cls);
    else
      ExpectDispinterface(checks, info, cls);
    info->Release();

    // Found by GUID as well as by position.
    const GUID guid = ParseGuid(coclass ? cls.clsid : cls.dispinterfaceIid);
    checks.ExpectHr(library->GetTypeInfoOfGuid(guid, &info), S_OK,
                    "GetTypeInfoOfGuid " + Narrow(GuidText(guid)));
    if (info != nullptr) info->Release();
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: type_library_test DLL-PATH\n");
    return 2;
  }
  Checks checks;
  HMODULE image = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  checks.Expect(image != nullptr, "the DLL loads as data");
  if (image != nullptr) {
    checks.Expect(FindResourceExW(image, L"TYPELIB", MAKEINTRESOURCEW(1),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)) != nullptr,
                  "resource TYPELIB 1, language 0x0409");
    FreeLibrary(image);
  }

  ITypeLib* library = nullptr;
  checks.ExpectHr(LoadTypeLibEx(argv[1], REGKIND_NONE, &library), S_OK, "LoadTypeLibEx");
  if (library != nullptr) {
    ExpectLibrary(checks, library);
    library->Release();
  }
  return checks.Finish();
}
