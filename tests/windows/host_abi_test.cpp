// The binary interface between a host and the DLL, seen from the host. The
// records pass in the host's own declarations (host_interface.h), filled
// with kFill: each call must change exactly the fields it documents, at the
// offsets the host's compiler gave them, and no other byte. On i686 every
// slot of every class, of its automation interface and of its class
// factory, and the exports but the two that write the registry (which take
// no arguments), are called many times through a thunk that measures the
// stack pointer across the call: a callee built for another calling
// convention leaves it moved. The port is mapped to the pseudo-terminal
// that tarvo_sim_peer serves (a pxr5700 module at address 2, none at 3);
// run.sh compares the commands the peer received with
// host_abi_exchanges.txt.
// Usage: host_abi_test DLL-PATH PORT-NUMBER
#include <ocidl.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checks.h"
#include "expected_classes.h"
#include "host_interface.h"
#include "server_module.h"

using namespace tarvo_test;

namespace {

template <class Record>
void Copy(Record& to, const Record& from) {
  std::memcpy(&to, &from, sizeof to);  // padding included
}

// Every byte of the record as the host expects it.
template <class Record>
void ExpectBytes(Checks& checks, const Record& actual, const Record& expected,
                 const std::string& what) {
  const auto* got = reinterpret_cast<const BYTE*>(&actual);
  const auto* want = reinterpret_cast<const BYTE*>(&expected);
  std::string offsets;
  for (size_t i = 0; i < sizeof(Record); ++i)
    if (got[i] != want[i]) offsets += " " + std::to_string(i);
  checks.Expect(offsets.empty(), what + ": bytes changed otherwise than expected at" + offsets);
}

const ExpectedClass& ByProgId(const wchar_t* progId) {
  for (const ExpectedClass& cls : kExpectedClasses)
    if (std::wcscmp(cls.progId, progId) == 0) return cls;
  std::printf("FATAL: no expected class %s\n", Narrow(progId).c_str());
  std::exit(2);
}

HostDriver* Create(Checks& checks, const ExpectedClass& cls) {
  void* object = nullptr;
  checks.ExpectHr(CoCreateInstance(ParseGuid(cls.clsid), nullptr, CLSCTX_INPROC_SERVER,
                                   ParseGuid(kIoDriverIid), &object),
                  S_OK, "CoCreateInstance " + Narrow(cls.progId));
  return static_cast<HostDriver*>(object);
}

// ParseItem of each class writes the fields its address gives, reads
// DataType, and leaves the rest of the item alone.
void ExpectItemLayout(Checks& checks, const std::vector<const ExpectedClass*>& offered) {
  constexpr int kKept = INT_MIN;
  struct Case {
    const wchar_t* progId;
    const char* address;
    SHORT dataType;
    int registerIndex, moduleAddress, channel, point, subIndex;
  };
  const Case cases[] = {
      {L"Tarvo.pxr5100", "TB12.1.3", kDataTypeFloat, 2, 12, 1, 3, kKept},
      {L"Tarvo.CPxr5303", "WB127.2.15", kDataTypeFloat, 4, 127, 2, 15, kKept},
      {L"Tarvo.Pxr530x", "wb12.7.63", kDataTypeFloat, 4, 12, 7, 63, kKept},
      {L"Tarvo.pxr5700", "DO2.7", kDataTypeDiscrete, 1, 2, 7, kKept, kKept},
      {L"Tarvo.Pxr5760", "AD5.0.4.2", kDataTypeFloat, 7, 5, 0, 4, 2},
  };
  for (const Case& c : cases) {
    const ExpectedClass& cls = ByProgId(c.progId);
    if (std::find(offered.begin(), offered.end(), &cls) == offered.end()) continue;
    HostDriver* driver = Create(checks, cls);
    if (driver == nullptr) continue;
    HostItem item;
    std::memset(&item, kFill, sizeof item);
    item.DataType = c.dataType;
    HostItem expected;
    Copy(expected, item);
    if (c.registerIndex != kKept) expected.RegisterIndex = static_cast<SHORT>(c.registerIndex);
    if (c.moduleAddress != kKept) expected.ModuleAddress = c.moduleAddress;
    if (c.channel != kKept) expected.Channel = static_cast<SHORT>(c.channel);
    if (c.point != kKept) expected.Point = static_cast<SHORT>(c.point);
    if (c.subIndex != kKept) expected.SubIndex = static_cast<SHORT>(c.subIndex);
    const std::string label = Narrow(c.progId) + " ParseItem " + c.address;
    checks.ExpectEqual(driver->ParseItem(c.address, &item), 1, label);
    ExpectBytes(checks, item, expected, label);
    driver->Release();
  }
}

// The pxr5700 register table, read through the host's record: its stride
// and every field.
void ExpectRegisterTable(Checks& checks, HostDriver* driver) {
  const HostRegister expected[] = {
      {"DI", 1, kDataTypeDiscrete, kDataTypeDiscrete},
      {"DO", 3, kDataTypeDiscrete, kDataTypeDiscrete},
      {"TA", 1, kDataTypeFloat, kDataTypeFloat},
      {"TB", 1, kDataTypeFloat, kDataTypeFloat},
      {"WI", 1, kDataTypeFloat, kDataTypeFloat},
  };
  HostRegister* table = nullptr;
  SHORT count = -1;
  driver->GetRegisterTable(&table, &count);
  checks.ExpectEqual(count, std::size(expected), "register count");
  if (table == nullptr || count != static_cast<SHORT>(std::size(expected))) return;
  for (size_t i = 0; i < std::size(expected); ++i) {
    const std::string label = "register " + std::to_string(i) + " ";
    checks.ExpectEqual(std::string(table[i].Name, strnlen(table[i].Name, sizeof table[i].Name)),
                       expected[i].Name, label + "name");
    checks.ExpectEqual(table[i].Access, expected[i].Access, label + "access");
    checks.ExpectEqual(table[i].DataType1, expected[i].DataType1, label + "first data type");
    checks.ExpectEqual(table[i].DataType2, expected[i].DataType2, label + "second data type");
  }
}

// The line's records, and the value record of reads and writes, on the
// simulated pxr5700 at address 2.
void ExpectLineLayout(Checks& checks, HostDriver* driver, int port) {
  HostPort host(port);
  std::strcpy(host.config.TimeoutText, "1000");
  HostLineSettings settings;
  Copy(settings, host.settings);
  HostPortConfig expected;
  Copy(expected, host.config);
  checks.ExpectEqual(driver->OpenPort(&host.config), 1, "OpenPort");
  checks.Expect(host.config.SharedHandle != nullptr, "OpenPort publishes the line in SharedHandle");
  expected.SharedHandle = host.config.SharedHandle;
  ExpectBytes(checks, host.config, expected, "OpenPort's PortConfig");
  ExpectBytes(checks, host.settings, settings, "OpenPort's LineSettings");

  struct Case {
    const char* address;
    SHORT dataType;
    bool write;
    DWORD discrete;  // written, or read from a discrete register
    double analog;   // read from a float register
  };
  const Case cases[] = {
      {"DI2.0", kDataTypeDiscrete, false, 1, 0},
      {"WI2.1", kDataTypeFloat, false, 0, 23.45},
      {"DO2.6", kDataTypeDiscrete, true, 1, 0},
      {"DO2.6", kDataTypeDiscrete, false, 1, 0},
  };
  for (const Case& c : cases) {
    const std::string label = std::string(c.write ? "WriteItem " : "ReadItem ") + c.address;
    HostItem item{};
    item.DataType = c.dataType;
    checks.ExpectEqual(driver->ParseItem(c.address, &item), 1, label + " ParseItem");
    HostValue value;
    std::memset(&value, kFill, sizeof value);
    if (c.write) value.DiscreteValue = c.discrete;
    HostValue expected;
    Copy(expected, value);
    const LONG result =
        c.write ? driver->WriteItem(0, &item, &value) : driver->ReadItem(0, &item, &value);
    checks.ExpectEqual(result, 1, label);
    // A write only reads the record; a read writes its register's field.
    if (!c.write && c.dataType == kDataTypeDiscrete) expected.DiscreteValue = c.discrete;
    if (!c.write && c.dataType == kDataTypeFloat) {
      checks.ExpectNear(value.AnalogValue, c.analog, 0.001, label + " value");
      expected.AnalogValue = value.AnalogValue;
    }
    ExpectBytes(checks, value, expected, label + "'s IoValue");
  }

  // The transfer time-out comes from TimeoutText: a read that no module
  // answers waits for it.
  HostItem absent{};
  absent.DataType = kDataTypeDiscrete;
  driver->ParseItem("DO3.0", &absent);
  HostValue value{};
  const ULONGLONG start = GetTickCount64();
  checks.ExpectEqual(driver->ReadItem(0, &absent, &value), 0, "ReadItem DO3.0");
  const ULONGLONG took = GetTickCount64() - start;
  checks.Expect(
      took >= 950 && took < 2500,
      "an unanswered read waits TimeoutText's 1000 ms (took " + std::to_string(took) + " ms)");
  checks.ExpectEqual(driver->ClosePort(0), 1, "ClosePort");
}

#if defined(__i386__)
// CallMeasured(function, arguments, count, &result) pushes count 32-bit
// arguments right to left, as a __stdcall or __cdecl caller does, calls
// function with ECX spoiled (a __thiscall callee would take its object from
// there), stores EAX in *result and returns how far the stack pointer moved
// across the call: 0 when the callee removed its arguments (__stdcall),
// -4 * count when it left them to the caller (__cdecl).
extern "C" int32_t CallMeasured(const void* function, const uint32_t* arguments, uint32_t count,
                                uint32_t* result);
asm(R"(
  .text
  .globl _CallMeasured
_CallMeasured:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
  movl %esp, %edi
1:
  testl %ecx, %ecx
  jz 2f
  decl %ecx
  pushl (%esi,%ecx,4)
  jmp 1b
2:
  movl $0xBAD0BAD0, %ecx
  call *8(%ebp)
  movl 20(%ebp), %ecx
  movl %eax, (%ecx)
  movl %esp, %eax
  subl %edi, %eax
  movl %edi, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

constexpr int kCallsPerSlot = 500;
constexpr uint32_t kAnyResult = 0xFFFFFFFF;

constexpr uint32_t Hr(HRESULT result) { return static_cast<uint32_t>(result); }

uint32_t Word(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
const void* Slot(const void* object, int index) {
  return (*static_cast<const void* const* const*>(object))[index];
}

struct Call {
  std::string what;
  const void* function;
  std::vector<uint32_t> arguments;  // a slot's object first
  uint32_t result;                  // or kAnyResult
  bool callerPops = false;          // __cdecl
};

void ExpectCalls(Checks& checks, const std::vector<Call>& calls) {
  for (const Call& call : calls) {
    const auto count = static_cast<uint32_t>(call.arguments.size());
    const int32_t wanted = call.callerPops ? -4 * static_cast<int32_t>(count) : 0;
    int32_t moved = wanted;
    uint32_t result = call.result;
    for (int i = 0; i < kCallsPerSlot; ++i) {
      uint32_t answer = 0;
      const int32_t change = CallMeasured(call.function, call.arguments.data(), count, &answer);
      if (change != wanted) moved = change;
      if (call.result != kAnyResult && answer != call.result) result = answer;
    }
    checks.ExpectEqual(moved, wanted, call.what + ": stack pointer change");
    checks.ExpectEqual(result, call.result, call.what + ": result");
  }
}

// The same calls a host makes, with arguments that each slot answers at
// once (null records fail before the line is needed).
void ExpectCallingConvention(Checks& checks, const ServerModule& module,
                             const std::vector<const ExpectedClass*>& offered) {
  static const IID refused = IID_IPersist;
  static void* out = nullptr;
  static HostRegister* table = nullptr;
  static SHORT count = 0;
  static HostItem item{};
  static UINT typeInfoCount = 0;
  static const wchar_t* names[] = {L"OpenPort"};
  static DISPID ids[1] = {};
  static DISPPARAMS none = {nullptr, nullptr, 0, 0};
  std::vector<Call> calls;
  std::vector<IUnknown*> held;
  for (const ExpectedClass* cls : offered) {
    const std::string label = Narrow(cls->progId) + " ";
    HostDriver* driver = Create(checks, *cls);
    IDispatch* dispatch = nullptr;
    IClassFactory* factory = nullptr;
    if (driver != nullptr)
      driver->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    module.GetClassObject(ParseGuid(cls->clsid), IID_IClassFactory,
                          reinterpret_cast<void**>(&factory));
    if (driver == nullptr || dispatch == nullptr || factory == nullptr) {
      checks.Expect(false, label + "IIoDriver, IDispatch and IClassFactory");
      continue;
    }
    held.insert(held.end(), {driver, dispatch, factory});
    const std::string io = label + "IIoDriver::";
    const std::string disp = label + "IDispatch::";
    const std::string fac = label + "IClassFactory::";
    const uint32_t d = Word(driver);
    const uint32_t p = Word(dispatch);
    const uint32_t f = Word(factory);
    const std::vector<Call> rows = {
        {io + "QueryInterface",
         Slot(driver, 0),
         {d, Word(&refused), Word(&out)},
         Hr(E_NOINTERFACE)},
        {io + "AddRef", Slot(driver, 1), {d}, kAnyResult},
        {io + "Release", Slot(driver, 2), {d}, kAnyResult},
        {io + "ReservedA", Slot(driver, 3), {d, 7}, 1},
        {io + "OpenPort", Slot(driver, 4), {d, 0}, 0},
        {io + "GetRegisterTable", Slot(driver, 5), {d, Word(&table), Word(&count)}, kAnyResult},
        {io + "ParseItem", Slot(driver, 6), {d, Word(""), Word(&item)}, 0},
        {io + "ReservedB", Slot(driver, 7), {d, 1, 2}, 1},
        {io + "ReadItem", Slot(driver, 8), {d, 0, 0, 0}, 0},
        {io + "WriteItem", Slot(driver, 9), {d, 0, 0, 0}, 0},
        {io + "ClosePort", Slot(driver, 10), {d, 0}, 1},
        {io + "GetErrorText", Slot(driver, 11), {d}, kAnyResult},
        {disp + "QueryInterface",
         Slot(dispatch, 0),
         {p, Word(&refused), Word(&out)},
         Hr(E_NOINTERFACE)},
        {disp + "AddRef", Slot(dispatch, 1), {p}, kAnyResult},
        {disp + "Release", Slot(dispatch, 2), {p}, kAnyResult},
        {disp + "GetTypeInfoCount", Slot(dispatch, 3), {p, Word(&typeInfoCount)}, S_OK},
        {disp + "GetTypeInfo",
         Slot(dispatch, 4),
         {p, 0, LOCALE_USER_DEFAULT, Word(&out)},
         Hr(DISP_E_BADINDEX)},
        {disp + "GetIDsOfNames",
         Slot(dispatch, 5),
         {p, Word(&IID_NULL), Word(names), 1, LOCALE_USER_DEFAULT, Word(ids)},
         Hr(DISP_E_UNKNOWNNAME)},
        {disp + "Invoke",
         Slot(dispatch, 6),
         {p, 1, Word(&IID_NULL), LOCALE_USER_DEFAULT, DISPATCH_METHOD, Word(&none), 0, 0, 0},
         Hr(DISP_E_MEMBERNOTFOUND)},
        {fac + "QueryInterface",
         Slot(factory, 0),
         {f, Word(&refused), Word(&out)},
         Hr(E_NOINTERFACE)},
        {fac + "AddRef", Slot(factory, 1), {f}, kAnyResult},
        {fac + "Release", Slot(factory, 2), {f}, kAnyResult},
        {fac + "CreateInstance",
         Slot(factory, 3),
         {f, 0, Word(&refused), Word(&out)},
         Hr(E_NOINTERFACE)},
        {fac + "LockServer(TRUE)", Slot(factory, 4), {f, TRUE}, S_OK},
        {fac + "LockServer(FALSE)", Slot(factory, 4), {f, FALSE}, S_OK},
    };
    calls.insert(calls.end(), rows.begin(), rows.end());
  }
  const auto exported = [&](const char* name) {
    return reinterpret_cast<const void*>(GetProcAddress(module.Handle(), name));
  };
  const std::vector<Call> exports = {
      {"DllGetClassObject",
       exported("DllGetClassObject"),
       {Word(&GUID_NULL), Word(&IID_IClassFactory), Word(&out)},
       Hr(CLASS_E_CLASSNOTAVAILABLE)},
      {"DllCanUnloadNow", exported("DllCanUnloadNow"), {}, S_FALSE},
      {"TarvoSetPortDevice", exported("TarvoSetPortDevice"), {1, Word("/dev/null")}, 0, true},
      {"TarvoSetTraceHandler", exported("TarvoSetTraceHandler"), {0, 0}, kAnyResult, true},
  };
  calls.insert(calls.end(), exports.begin(), exports.end());
  ExpectCalls(checks, calls);
  // The AddRef and Release rows balance: each object's last reference is
  // the one taken here.
  for (IUnknown* object : held) object->Release();
  checks.ExpectHr(module.CanUnloadNow(), S_OK, "DllCanUnloadNow after the calls");
}
#endif

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::printf("usage: host_abi_test DLL-PATH PORT-NUMBER\n");
    return 2;
  }
  Checks checks;
  checks.ExpectHr(CoInitialize(nullptr), S_OK, "CoInitialize");
  {
    ServerModule module(argv[1]);
    const auto offered = module.OfferedClasses();
    ExpectItemLayout(checks, offered);
    if (HostDriver* io = Create(checks, ByProgId(L"Tarvo.pxr5700")); io != nullptr) {
      ExpectRegisterTable(checks, io);
      ExpectLineLayout(checks, io, _wtoi(argv[2]));
      checks.ExpectEqual(io->Release(), 0, "the last Release of Cpxr5700");
    }
#if defined(__i386__)
    ExpectCallingConvention(checks, module, offered);
#endif
  }
  CoUninitialize();
  return checks.Finish();
}
