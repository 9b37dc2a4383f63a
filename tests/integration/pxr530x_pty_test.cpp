// Both sensor-module classes as a host uses them: created through the
// loaded library, reading simulated modules over a pseudo-terminal in real
// time, their traffic seen by the trace handler.
#include <dlfcn.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "support/host_port.h"
#include "tarvo/tarvo.h"

namespace {

using SetPortDeviceFn = int32_t (*)(int32_t, const char*);
using SetTraceHandlerFn = void (*)(TarvoTraceHandler, void*);
using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using Clock = std::chrono::steady_clock;

struct Trace {
  std::mutex mutex;
  std::vector<std::string> sent;
  size_t received = 0;

  static void Handler(void* context, const char* label, const uint8_t* bytes, int32_t count) {
    auto* trace = static_cast<Trace*>(context);
    std::lock_guard lock(trace->mutex);
    if (std::strcmp(label, "Read Send") == 0)
      trace->sent.emplace_back(bytes, bytes + count);
    else if (count > 0)
      ++trace->received;
  }
};

class SensorModulesOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TARVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    auto setPortDevice = reinterpret_cast<SetPortDeviceFn>(dlsym(handle_, "TarvoSetPortDevice"));
    setTraceHandler_ = reinterpret_cast<SetTraceHandlerFn>(dlsym(handle_, "TarvoSetTraceHandler"));
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(dlsym(handle_, "DllGetClassObject"));
    ASSERT_NE(setPortDevice, nullptr);
    ASSERT_NE(setTraceHandler_, nullptr);
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_EQ(setPortDevice(14, pty_.slavePath().c_str()), 1);
    setTraceHandler_(&Trace::Handler, &trace_);
  }
  void TearDown() override {
    if (setTraceHandler_ != nullptr) setTraceHandler_(nullptr, nullptr);
    if (handle_ != nullptr) dlclose(handle_);
  }

  tarvo::IIoDriver* Create(const CLSID& clsid, const IID& dispatch) {
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClassObject_(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    if (factory == nullptr) return nullptr;
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, tarvo::IID_IIoDriver, &object), S_OK);
    factory->Release();
    auto* driver = static_cast<tarvo::IIoDriver*>(object);
    if (driver == nullptr) return nullptr;
    void* automation = nullptr;
    EXPECT_EQ(driver->QueryInterface(dispatch, &automation), S_OK);
    if (automation != nullptr) static_cast<IUnknown*>(automation)->Release();
    EXPECT_EQ(driver->OpenPort(&host_.config), 1) << driver->GetErrorText();
    return driver;
  }

  // Reads address; returns the result and leaves the value in *value.
  int32_t Read(tarvo::IIoDriver* driver, const char* address, float* value) {
    tarvo::IoItem item{};
    item.DataType = tarvo::kDataTypeFloat;
    EXPECT_EQ(driver->ParseItem(address, &item), 1) << address;
    tarvo::IoValue out{};
    const int32_t result = driver->ReadItem(0, &item, &out);
    *value = out.AnalogValue;
    return result;
  }

  void* handle_ = nullptr;
  SetTraceHandlerFn setTraceHandler_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  Trace trace_;
  tarvo::test::HostPort host_{14, "100"};
  tarvo::sim::Bus bus_;
  tarvo::sim::PtyPair pty_;
  tarvo::sim::PtyServer server_{pty_, bus_.Peer()};
};

TEST_F(SensorModulesOverPty, Pxr5303ScansThenReadsBehindItsGate) {
  {
    auto hold = bus_.Hold();
    auto& module = bus_.Emplace<tarvo::sim::Pxr5303Module>(10);
    module.SetValues(0, 2, {.ta = 21.5});
    module.SetValues(1, 7, {.wa = -3.25, .wb = 40.5});
  }
  tarvo::IIoDriver* driver = Create(tarvo::CLSID_CPxr5303, tarvo::DIID_IPxr5303);
  ASSERT_NE(driver, nullptr);

  float value = 0.0f;
  // The scan takes under a second: the gate, counting whole seconds from
  // the object's construction, is still closed.
  EXPECT_EQ(Read(driver, "TA10.0.2", &value), 0);
  EXPECT_STREQ(driver->GetErrorText(), "\xD1\xD3\xCA\xB1\xCA\xB1\xBC\xE4\xCE\xB4\xB5\xBD");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_EQ(Read(driver, "TA10.0.2", &value), 1) << driver->GetErrorText();
  EXPECT_EQ(value, 21.5f);
  ASSERT_EQ(Read(driver, "WA10.1.7", &value), 1);
  EXPECT_EQ(value, -3.25f);
  ASSERT_EQ(Read(driver, "WB10.1.7", &value), 1);
  EXPECT_EQ(value, 40.5f);

  {
    std::lock_guard lock(trace_.mutex);
    EXPECT_EQ(trace_.sent, (std::vector<std::string>{"$0A6\r", "*0A0\r", "#0A8\r", "#0A8\r"}));
    EXPECT_EQ(trace_.received, 4u);
  }
  EXPECT_EQ(bus_.log().Count("#0A8"), 2u);
  EXPECT_EQ(driver->ClosePort(0), 1);
  EXPECT_EQ(driver->Release(), 0u);
}

TEST_F(SensorModulesOverPty, Pxr530xWaitsTenSecondsBeforeItsBlockRead) {
  {
    auto hold = bus_.Hold();
    auto& module = bus_.Emplace<tarvo::sim::Pxr530xModule>(10, 2);
    module.SetValues(1, 63, {.wa = 18.5, .wb = 55.0});
  }
  tarvo::IIoDriver* driver = Create(tarvo::CLSID_CPxr530x, tarvo::DIID_IPxr530x);
  ASSERT_NE(driver, nullptr);

  float value = 0.0f;
  const auto start = Clock::now();
  ASSERT_EQ(Read(driver, "WA10.1.63", &value), 1) << driver->GetErrorText();
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(10000));
  EXPECT_EQ(value, 18.5f);
  ASSERT_EQ(Read(driver, "WB10.1.63", &value), 1);
  EXPECT_NEAR(value, 55.0f, 0.2f);

  {
    std::lock_guard lock(trace_.mutex);
    EXPECT_EQ(trace_.sent, (std::vector<std::string>{"*0A0\r", "*0A1\r", "*0A2\r", "#0A8\r"}));
  }
  EXPECT_EQ(driver->ClosePort(0), 1);
  EXPECT_EQ(driver->Release(), 0u);
}

}  // namespace
