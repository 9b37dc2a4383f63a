// A pxr5700 module on a pseudo-terminal, driven as a host drives it: the
// library loaded with dlopen, the object created through DllGetClassObject,
// every call through IIoDriver, the traffic watched through the trace
// handler.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr5700/module.h"
#include "support/host_port.h"
#include "tarvo/tarvo.h"

namespace {

using namespace std::string_literals;
using SetPortDeviceFn = int32_t (*)(int32_t, const char*);
using SetTraceHandlerFn = void (*)(TarvoTraceHandler, void*);
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);

struct Traced {
  std::string label;
  std::string bytes;
};

void Collect(void* context, const char* label, const uint8_t* bytes, int32_t count) {
  static_cast<std::vector<Traced>*>(context)->push_back(
      {label, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count))});
}

TEST(Pxr5700Abi, ReadsInputsWritesAnOutputAndReadsItBack) {
  tarvo::sim::Bus bus;
  tarvo::sim::Pxr5700Module* module = nullptr;
  {
    auto hold = bus.Hold();
    module = &bus.Emplace<tarvo::sim::Pxr5700Module>(0x1C);
    module->SetInputs(0x5A);
    module->SetOutputs(0x0C);
  }
  tarvo::sim::PtyPair pty;
  tarvo::sim::PtyServer server(pty, bus.Peer());

  void* library = dlopen(TARVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  const auto setPortDevice =
      reinterpret_cast<SetPortDeviceFn>(dlsym(library, "TarvoSetPortDevice"));
  const auto setTraceHandler =
      reinterpret_cast<SetTraceHandlerFn>(dlsym(library, "TarvoSetTraceHandler"));
  const auto getClassObject =
      reinterpret_cast<GetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  ASSERT_NE(setPortDevice, nullptr);
  ASSERT_NE(setTraceHandler, nullptr);
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_EQ(setPortDevice(17, pty.slavePath().c_str()), 1);
  std::vector<Traced> traced;
  setTraceHandler(&Collect, &traced);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      getClassObject(tarvo::CLSID_Cpxr5700, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  void* object = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, tarvo::IID_IIoDriver, &object), S_OK);
  factory->Release();
  auto* driver = static_cast<tarvo::IIoDriver*>(object);

  tarvo::test::HostPort port(17, "100");
  ASSERT_EQ(driver->OpenPort(&port.config), 1) << driver->GetErrorText();

  tarvo::RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver->GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 5);
  EXPECT_STREQ(table[1].Name, "DO");

  const auto parse = [&](const char* address, int16_t type) {
    tarvo::IoItem item{};
    item.DataType = type;
    EXPECT_EQ(driver->ParseItem(address, &item), 1) << address;
    return item;
  };
  tarvo::IoItem input1 = parse("DI28.1", tarvo::kDataTypeDiscrete);
  tarvo::IoItem input2 = parse("di28.2", tarvo::kDataTypeDiscrete);
  tarvo::IoItem output0 = parse("DO28.0", tarvo::kDataTypeDiscrete);
  tarvo::IoItem output3 = parse("DO28.3", tarvo::kDataTypeDiscrete);

  tarvo::IoValue value{};
  ASSERT_EQ(driver->ReadItem(0, &input1, &value), 1) << driver->GetErrorText();
  EXPECT_EQ(value.DiscreteValue, 1u);
  ASSERT_EQ(driver->ReadItem(0, &input2, &value), 1);
  EXPECT_EQ(value.DiscreteValue, 0u);
  // Reading one output learns all eight, so the write keeps 2 and 3 on:
  // the output byte sent is 0x0D.
  ASSERT_EQ(driver->ReadItem(0, &output3, &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  value.DiscreteValue = 1;
  ASSERT_EQ(driver->WriteItem(0, &output0, &value), 1) << driver->GetErrorText();
  value.DiscreteValue = 7;
  ASSERT_EQ(driver->ReadItem(0, &output0, &value), 1) << driver->GetErrorText();
  EXPECT_EQ(value.DiscreteValue, 1u);
  EXPECT_STREQ(driver->GetErrorText(), "OK");

  EXPECT_EQ(driver->ClosePort(0), 1);
  EXPECT_EQ(driver->Release(), 0u);
  setTraceHandler(nullptr, nullptr);
  setPortDevice(17, nullptr);
  dlclose(library);
  server.Stop();

  {
    auto hold = bus.Hold();
    EXPECT_EQ(module->outputs(), 0x0D);
  }
  EXPECT_EQ(bus.log().Commands(),
            (std::vector<std::string>{"#1C0\r", "#1C1\r", "/1C\r\r", "#1C1\r"}));
  EXPECT_TRUE(bus.log().Dropped().empty());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Read Send", "#1C0\r"},       {"Read Receive", ">1CZ\r"},   {"Read Send", "#1C1\r"},
      {"Read Receive", ">1C\x0C\r"}, {"Write Send", "/1C\r\r"},    {"Write Receive", "!1C\r\r"},
      {"Read Send", "#1C1\r"},       {"Read Receive", ">1C\x0D\r"}};
  ASSERT_EQ(traced.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(traced[i].label, expected[i].first) << i;
    EXPECT_EQ(traced[i].bytes, expected[i].second) << i;
  }
}

}  // namespace
