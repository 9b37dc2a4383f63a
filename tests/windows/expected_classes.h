// What a host may expect of the server's driver classes: their exact
// registry identities and their names in the type library. Written out here
// rather than taken from the library, so that a wrong value in the library is
// caught. Every test walks this table; the classes a given build offers are
// found by asking the DLL (see server_module.h).
#pragma once

namespace tarvo_test {

struct ExpectedClass {
  const wchar_t* className;
  const wchar_t* progId;
  const wchar_t* clsid;
  const wchar_t* dispinterface;     // name in the type library
  const wchar_t* dispinterfaceIid;  // also answered by QueryInterface
  const wchar_t* coclass;           // name in the type library
};

inline constexpr ExpectedClass kExpectedClasses[] = {
    {L"Cpxr5100", L"Tarvo.pxr5100", L"{9531985D-5D9D-49F8-9818-E811892F902B}", L"Ipxr5100",
     L"{D23F0824-128B-4F33-8C5C-7FD0A6A3A450}", L"pxr5100"},
    {L"CPxr5303", L"Tarvo.CPxr5303", L"{0FD630F1-F29D-4DA9-953F-48F1A09F76B5}", L"IPxr5303",
     L"{A170B338-3926-4059-B28C-105D1FB17C23}", L"Pxr5303"},
    {L"CPxr530x", L"Tarvo.Pxr530x", L"{90C192CF-D3AC-44AF-8F21-DDB66CAD4A26}", L"IPxr530x",
     L"{8D116ECE-1738-47D9-BD9C-172411E20B8F}", L"Pxr530x"},
    {L"Cpxr5700", L"Tarvo.pxr5700", L"{6B0D549B-6F03-475A-9600-A35A099950D8}", L"Ipxr5700",
     L"{36F675CC-81E7-4EF5-A8E2-5D940ED90475}", L"pxr5700"},
    {L"CPxr5760", L"Tarvo.Pxr5760", L"{8E81973E-0BEC-47B0-B898-D190F9EBDACC}", L"IPxr5760",
     L"{0CB1E29C-658C-4A14-95E6-0AF593BD04CF}", L"Pxr5760"},
};

// The coclasses in the order the type library holds them, each preceded by
// its dispinterface.
inline constexpr const wchar_t* kTypeLibraryOrder[] = {L"pxr5100", L"pxr5700", L"Pxr530x",
                                                       L"Pxr5303", L"Pxr5760"};

inline constexpr wchar_t kIoDriverIid[] = L"{6B4CB242-4A23-4596-A217-BEADDBC496CB}";
inline constexpr wchar_t kTypeLibraryId[] = L"{6513270E-269E-4D37-B2A7-4DE452E6B438}";

// Every ProgID of the server begins with this.
inline constexpr wchar_t kProgIdPrefix[] = L"Tarvo.";

}  // namespace tarvo_test
