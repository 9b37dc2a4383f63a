// Lines that go away, over real pseudo-terminals and the POSIX platform:
// the module's end of the line closes in the middle of a poll (after the
// command went out, before the driver reads), and every later read fails
// with a line error within its time-outs; after ClosePort and OpenPort on a
// new device path the driver reads again. Opening and closing lines, and
// opens refused because the device is taken, leave no descriptor behind.
// The clock skips long waits (reliability_clock.h), so each family costs
// about a second of real time.
#include <dirent.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "driver/error_text.h"
#include "driver/trace.h"
#include "gtest/gtest.h"
#include "reliability_clock.h"
#include "serial/device.h"
#include "server/server_classes.h"
#include "sim/pty_server.h"
#include "support/host_port.h"
#include "support/rig_families.h"
#include "tarvo/errors.h"
#include "tarvo/guids.h"
#include "tarvo/tarvo.h"

namespace tarvo::test {
namespace {

constexpr int32_t kPort = 9;
constexpr int32_t kTimeoutMs = 100;
constexpr int64_t kCycleMs = 2000;
// Real time a poll may take beyond its time-outs on a loaded machine.
constexpr int64_t kSlackMs = 500;

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

IIoDriver* Create(const FamilySpec& spec) {
  void* object = nullptr;
  const ServerClass* cls = FindServerClass(*spec.clsid);
  if (cls == nullptr || cls->create(IID_IIoDriver, &object) != S_OK) return nullptr;
  return static_cast<IIoDriver*>(object);
}

IoItem Parse(IIoDriver& driver, const char* address, int16_t dataType) {
  IoItem item{};
  item.DataType = dataType;
  EXPECT_EQ(driver.ParseItem(address, &item), 1) << address;
  return item;
}

struct Poll {
  int32_t result;
  std::string text;
  IoValue value;
  int64_t elapsedMs;
};

// How each family fails on a line whose far end has gone: the read that was
// waiting for its answer (code 17), every later read (code 16), with the
// longest each may block; and a write.
struct DeadLine {
  int64_t interruptedMs;
  int64_t laterMs;
  DriverError write;  // ErrOk: the family writes nothing
};

// A block read waits the time-out twice (pxr5100) or once before its read;
// the pxr530x waits 10000 ms before every block read. The pxr5760 write
// finds the line unusable in its first pass and its gate shut in the two
// others: 22.
const DeadLine kDeadLines[kFamilyCount] = {
    {2 * kTimeoutMs, 0, ErrOk},    {kTimeoutMs, 0, ErrOk},       {10000 + kTimeoutMs, 10000, ErrOk},
    {kTimeoutMs, 0, ErrPortWrite}, {kTimeoutMs, 0, ErrReadData},
};

class Disconnect : public ::testing::TestWithParam<size_t> {
 protected:
  void SetUp() override {
    serial::SetClock(&clock_);
    SetTraceHandler(&Disconnect::OnTrace, this);
  }
  void TearDown() override {
    clock_.SetHook(nullptr);
    SetTraceHandler(nullptr, nullptr);
    serial::SetClock(nullptr);
    serial::SetPortDevice(kPort, nullptr);
  }

  static void OnTrace(void* context, const char* label, const uint8_t*, int32_t) {
    if (std::strstr(label, "Send") != nullptr) static_cast<Disconnect*>(context)->sent_ = true;
  }

  Poll Read(IIoDriver& driver, IoItem item) {
    Poll poll{0, {}, {}, 0};
    poll.value.DiscreteValue = 0xDEADBEEF;
    poll.value.AnalogValue = -999.0f;
    const int64_t start = clock_.NowMs();
    poll.result = driver.ReadItem(0, &item, &poll.value);
    poll.elapsedMs = clock_.NowMs() - start;
    poll.text = driver.GetErrorText();
    return poll;
  }
  Poll Write(IIoDriver& driver, IoItem item) {
    Poll poll{0, {}, {}, 0};
    poll.value.DiscreteValue = 1;
    const int64_t start = clock_.NowMs();
    poll.result = driver.WriteItem(0, &item, &poll.value);
    poll.elapsedMs = clock_.NowMs() - start;
    poll.text = driver.GetErrorText();
    return poll;
  }

  // Reads until a value comes, a host cycle apart, at most four times.
  Poll ReadHealthy(IIoDriver& driver, IoItem item) {
    Poll poll = Read(driver, item);
    for (int cycle = 0; cycle < 3 && poll.result != 1; ++cycle) {
      clock_.Advance(kCycleMs);
      poll = Read(driver, item);
    }
    return poll;
  }

  // Makes the next sleep after a command went out wait until the module
  // has received it, then hang up the module's end of the line.
  void HangUpAfterNextCommand(sim::PtyServer& server, const std::atomic<int>& received) {
    sent_ = false;
    const int before = received;
    clock_.SetHook([this, &server, &received, before] {
      if (!sent_ || hungUp_) return;
      for (int i = 0; i < 200 && received == before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      server.HangUp();
      hungUp_ = true;
    });
  }

  QuickClock clock_;
  std::atomic<bool> sent_{false};
  bool hungUp_ = false;
};

TEST_P(Disconnect, ReadsFailWithinTheirTimeOutsAndANewDeviceReadsAgain) {
  const FamilySpec& spec = Family(GetParam());
  const DeadLine& dead = kDeadLines[GetParam()];
  const size_t descriptors = OpenDescriptors();
  {
    sim::Bus bus;
    spec.populate(bus);
    sim::Module& module = *bus.Find(kRigModule);
    std::atomic<int> received{0};
    const sim::PeerFunction busPeer = bus.Peer();
    const sim::PeerFunction peer = [&received, busPeer](const uint8_t* bytes, size_t count,
                                                        int64_t nowMs) {
      ++received;
      return busPeer(bytes, count, nowMs);
    };
    auto pty = std::make_unique<sim::PtyPair>();
    auto server = std::make_unique<sim::PtyServer>(*pty, peer);
    ASSERT_TRUE(serial::SetPortDevice(kPort, pty->slavePath().c_str()));

    IIoDriver* driver = Create(spec);
    ASSERT_NE(driver, nullptr);
    HostPort port(kPort, kTimeoutMs);
    ASSERT_EQ(driver->OpenPort(&port.config), 1) << driver->GetErrorText();
    const IoItem read = Parse(*driver, spec.readAddress, kDataTypeFloat);
    const IoItem write =
        spec.writeAddress ? Parse(*driver, spec.writeAddress, kDataTypeDiscrete) : read;

    // A healthy start: the scan, then a value once the gate has opened (a
    // few cycles, should a loaded machine make the module miss a wait).
    Poll poll = ReadHealthy(*driver, read);
    ASSERT_EQ(poll.result, 1) << poll.text;
    EXPECT_EQ(poll.value.AnalogValue, kHealthyValue);

    // The module takes the next command and says nothing; its end of the
    // line closes while the driver waits for the answer.
    module.SetFaults({.silent = true});
    clock_.Advance(kCycleMs);
    HangUpAfterNextCommand(*server, received);
    poll = Read(*driver, read);
    clock_.SetHook(nullptr);
    ASSERT_TRUE(hungUp_);
    EXPECT_EQ(poll.result, 0);
    EXPECT_EQ(poll.text, ErrorText(ErrPortRead));
    EXPECT_EQ(poll.value.AnalogValue, -999.0f);
    EXPECT_GE(poll.elapsedMs, dead.interruptedMs);
    EXPECT_LE(poll.elapsedMs, dead.interruptedMs + kSlackMs);

    for (int i = 0; i < 3; ++i) {
      clock_.Advance(kCycleMs);
      poll = Read(*driver, read);
      EXPECT_EQ(poll.result, 0);
      EXPECT_EQ(poll.text, ErrorText(ErrPortWrite)) << "read " << i;
      EXPECT_EQ(poll.value.AnalogValue, -999.0f);
      EXPECT_LE(poll.elapsedMs, dead.laterMs + kSlackMs);
    }
    clock_.Advance(kCycleMs);
    poll = Write(*driver, write);
    EXPECT_EQ(poll.result, dead.write == ErrOk ? 1 : 0);
    EXPECT_EQ(poll.text, ErrorText(dead.write));
    EXPECT_LE(poll.elapsedMs, kSlackMs);
    EXPECT_EQ(driver->ClosePort(0), 1);

    // The host maps the port to the device the module is now on and opens
    // it again; its PortConfig still names the closed line.
    server.reset();
    pty = std::make_unique<sim::PtyPair>();
    server = std::make_unique<sim::PtyServer>(*pty, peer);
    ASSERT_TRUE(serial::SetPortDevice(kPort, pty->slavePath().c_str()));
    module.ClearFaults();
    ASSERT_EQ(driver->OpenPort(&port.config), 1) << driver->GetErrorText();
    poll = ReadHealthy(*driver, read);
    EXPECT_EQ(poll.result, 1) << poll.text;
    EXPECT_EQ(poll.value.AnalogValue, kHealthyValue);
    if (spec.writeAddress != nullptr) {
      clock_.Advance(kCycleMs);
      poll = Write(*driver, write);
      EXPECT_EQ(poll.result, 1) << poll.text;
    }
    EXPECT_EQ(driver->ClosePort(0), 1);
    driver->Release();
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

INSTANTIATE_TEST_SUITE_P(Families, Disconnect, ::testing::Range<size_t>(0, kFamilyCount),
                         [](const auto& info) { return std::string(Family(info.param).name); });

// Opens, closes and refused opens of one real device, with reads between
// them, leave the process's descriptors as they were.
TEST(LineDescriptors, OpensClosesAndRefusedOpensLeaveNoDescriptor) {
  QuickClock clock;
  serial::SetClock(&clock);
  const size_t descriptors = OpenDescriptors();
  {
    sim::Bus bus;
    Family(3).populate(bus);  // pxr5700: one exchange per read
    sim::PtyPair pty;
    sim::PtyServer server(pty, bus.Peer());
    ASSERT_TRUE(serial::SetPortDevice(kPort, pty.slavePath().c_str()));
    IIoDriver* driver = Create(Family(3));
    IIoDriver* other = Create(Family(3));
    ASSERT_NE(driver, nullptr);
    ASSERT_NE(other, nullptr);
    HostPort port(kPort, kTimeoutMs);
    HostPort second(kPort, kTimeoutMs);
    const IoItem read = Parse(*driver, Family(3).readAddress, kDataTypeFloat);
    int values = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
      ASSERT_EQ(driver->OpenPort(&port.config), 1) << cycle << " " << driver->GetErrorText();
      // The device is taken: a second open of it is refused.
      EXPECT_EQ(other->OpenPort(&second.config), 0);
      EXPECT_EQ(other->GetErrorText(), std::string(ErrorText(ErrCreatePort)));
      if (cycle % 20 == 0) {
        IoItem item = read;
        IoValue value{};
        values += driver->ReadItem(0, &item, &value);
      }
      EXPECT_EQ(driver->ClosePort(0), 1);
    }
    EXPECT_GT(values, 0);  // the lines carried traffic
    driver->Release();
    other->Release();
  }
  EXPECT_EQ(OpenDescriptors(), descriptors);
  serial::SetPortDevice(kPort, nullptr);
  serial::SetClock(nullptr);
}

}  // namespace
}  // namespace tarvo::test
