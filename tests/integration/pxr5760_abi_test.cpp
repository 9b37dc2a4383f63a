// A host's view of a pxr5760 module: the library loaded with dlopen, a
// CPxr5760 created through DllGetClassObject, its port mapped to a
// pseudo-terminal served by the simulator, every register kind read and an
// output bit written, with the traffic seen by the trace handler.
#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr5760/module.h"
#include "support/host_port.h"
#include "tarvo/tarvo.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using SetPortDeviceFn = int32_t (*)(int32_t, const char*);
using SetTraceHandlerFn = void (*)(TarvoTraceHandler, void*);
using SteadyClock = std::chrono::steady_clock;

constexpr int32_t kPort = 15;

// The labels the trace handler saw, in order.
void CollectLabel(void* context, const char* label, const uint8_t*, int32_t) {
  static_cast<std::vector<std::string>*>(context)->emplace_back(label);
}

class Pxr5760Host : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TARVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(dlsym(handle_, "DllGetClassObject"));
    setPortDevice_ = reinterpret_cast<SetPortDeviceFn>(dlsym(handle_, "TarvoSetPortDevice"));
    setTraceHandler_ = reinterpret_cast<SetTraceHandlerFn>(dlsym(handle_, "TarvoSetTraceHandler"));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(setPortDevice_, nullptr);
    ASSERT_NE(setTraceHandler_, nullptr);
  }
  void TearDown() override {
    if (setTraceHandler_ != nullptr) setTraceHandler_(nullptr, nullptr);
    if (setPortDevice_ != nullptr) setPortDevice_(kPort, nullptr);
    if (handle_ != nullptr) dlclose(handle_);
  }

  tarvo::IIoDriver* NewDriver() {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject_(tarvo::CLSID_CPxr5760, IID_IClassFactory,
                              reinterpret_cast<void**>(&factory)),
              S_OK);
    if (factory == nullptr) return nullptr;
    void* driver = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, tarvo::IID_IIoDriver, &driver), S_OK);
    factory->Release();
    return static_cast<tarvo::IIoDriver*>(driver);
  }

  void* handle_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  SetPortDeviceFn setPortDevice_ = nullptr;
  SetTraceHandlerFn setTraceHandler_ = nullptr;
};

// Repeats call while it fails with the code of a shut refresh gate, for at
// most 4 s of real time (the gate opens within 2 s).
template <class Call>
int32_t UntilGateOpens(tarvo::IIoDriver* driver, int32_t gateCode, Call call) {
  const auto deadline = SteadyClock::now() + std::chrono::seconds(4);
  for (;;) {
    const int32_t result = call();
    if (result == 1 || SteadyClock::now() > deadline) return result;
    if (std::strcmp(driver->GetErrorText(), tarvo::ErrorText(gateCode)) != 0) return result;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

TEST_F(Pxr5760Host, ReadsEveryRegisterKindAndWritesAnOutputBit) {
  tarvo::sim::Bus bus;
  auto& module = bus.Emplace<tarvo::sim::Pxr5760Module>(26);
  // TA and LT (sub-channel 4) 25.0625, HB 4.0, KT 66.0, AD (sub-channel 4)
  // 264 counts, input bit 3 and output bits 0, 4 and 7 set, output bit 1
  // clear.
  module.SetRecord(1, 3, {0x00, 0x08, 0x91, 0x01});
  module.SetRecord(0, 0, {0x00, 0x00, 0x00, 0x00});
  tarvo::sim::PtyPair pty;
  tarvo::sim::PtyServer server(pty, bus.Peer());
  ASSERT_EQ(setPortDevice_(kPort, pty.slavePath().c_str()), 1);
  std::vector<std::string> labels;
  setTraceHandler_(&CollectLabel, &labels);

  tarvo::IIoDriver* driver = NewDriver();
  ASSERT_NE(driver, nullptr);
  tarvo::test::HostPort port(kPort, "100");
  ASSERT_EQ(driver->OpenPort(&port.config), 1) << driver->GetErrorText();

  struct Read {
    const char* address;
    int16_t dataType;
    float analog;
    uint32_t discrete;
  };
  const Read reads[] = {
      {"TA26.1.3", tarvo::kDataTypeFloat, 25.0625f, 0},
      {"HB26.1.3", tarvo::kDataTypeFloat, 4.0f, 0},
      {"KT26.1.3", tarvo::kDataTypeFloat, 66.0f, 0},
      {"LT26.1.3.4", tarvo::kDataTypeFloat, 25.0625f, 0},
      {"AD26.1.3.4", tarvo::kDataTypeFloat, static_cast<float>(264 * (5.0 / 1023.0)), 0},
      {"DI26.1.3.3", tarvo::kDataTypeDiscrete, 0, 1},
      {"DO26.1.3.0", tarvo::kDataTypeDiscrete, 0, 1},
  };
  for (const Read& r : reads) {
    tarvo::IoItem item{};
    item.DataType = r.dataType;
    ASSERT_EQ(driver->ParseItem(r.address, &item), 1) << r.address;
    tarvo::IoValue value{};
    // The first read scans the module and waits for its gate; the others
    // are served from the block read's records.
    const int32_t result = UntilGateOpens(driver, tarvo::ErrDelayNotElapsed,
                                          [&] { return driver->ReadItem(0, &item, &value); });
    ASSERT_EQ(result, 1) << r.address;
    if (r.dataType == tarvo::kDataTypeFloat) {
      EXPECT_EQ(value.AnalogValue, r.analog) << r.address;
    } else {
      EXPECT_EQ(value.DiscreteValue, r.discrete) << r.address;
    }
  }
  EXPECT_EQ(bus.log().Count("*1a"), 8u);
  EXPECT_EQ(bus.log().Count("#1a8"), 1u);

  tarvo::IoItem output{};
  output.DataType = tarvo::kDataTypeDiscrete;
  ASSERT_EQ(driver->ParseItem("DO26.1.3.1", &output), 1);
  tarvo::IoValue on{};
  on.DiscreteValue = 1;
  // The block read just used the gate; the write waits for it to reopen.
  ASSERT_EQ(UntilGateOpens(driver, tarvo::ErrReadData,
                           [&] { return driver->WriteItem(0, &output, &on); }),
            1);
  EXPECT_STREQ(driver->GetErrorText(), "OK");
  {
    auto hold = bus.Hold();
    EXPECT_EQ(module.Records(1, 3)[0][2], 0x93);
  }
  EXPECT_EQ(bus.log().Commands().back(), "/1a10393\r");
  tarvo::IoValue bit{};
  // Bit 1 of the block read is still to be handed out: it reads the
  // acknowledged byte.
  ASSERT_EQ(driver->ReadItem(0, &output, &bit), 1);
  EXPECT_EQ(bit.DiscreteValue, 1u);

  setTraceHandler_(nullptr, nullptr);
  const std::vector<std::string> expectedTail = {"Read Send", "Read Receive", "Write Send",
                                                 "Write Receive"};
  ASSERT_GE(labels.size(), 20u);
  EXPECT_EQ(std::vector<std::string>(labels.end() - 4, labels.end()), expectedTail);
  EXPECT_EQ(driver->ClosePort(0), 1);
  EXPECT_EQ(driver->Release(), 0u);
}

}  // namespace
