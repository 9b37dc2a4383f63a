// A CPxr5760 on port 1 of the fake line, with a simulated bus at its far
// end holding one pxr5760 module at address 26 ("1a"), and the fake clock
// at 0 ms when the driver was constructed. A line time-out of 100 ms.
#pragma once

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pxr5760/pxr5760.h"
#include "sim/bus.h"
#include "sim/pxr5760/module.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::test {

// Sentinels a value record starts with, so an untouched record shows.
inline constexpr uint32_t kUntouchedBits = 0xDEADBEEF;
inline constexpr float kUntouchedAnalog = -999.0f;

class Pxr5760Driver : public ::testing::Test {
 protected:
  struct Outcome {
    int32_t result;
    int32_t code;
    IoValue value;
  };
  Pxr5760Driver() {
    line().SetPeer(bus.Peer());
    NewDriver();
  }

  // Replaces the driver by a new object on the same line (which resets the
  // class's tables).
  void NewDriver() {
    driver = std::make_unique<CPxr5760>();
    EXPECT_EQ(driver->OpenPort(&host_.config), 1);
  }

  FakeLine& line() { return serial_.line(1); }
  FakeClock& clock() { return serial_.clock(); }

  // The item ParseItem makes of address (DI and DO with data type 1).
  IoItem Item(const std::string& address) {
    IoItem item{};
    const bool discrete = address.size() > 1 && std::toupper(address[0]) == 'D' &&
                          (std::toupper(address[1]) == 'I' || std::toupper(address[1]) == 'O');
    item.DataType = discrete ? kDataTypeDiscrete : kDataTypeFloat;
    EXPECT_EQ(driver->ParseItem(address.c_str(), &item), 1) << address;
    return item;
  }
  Outcome ReadItem(IoItem item) {
    Outcome out{0, 0, {}};
    out.value.DiscreteValue = kUntouchedBits;
    out.value.AnalogValue = kUntouchedAnalog;
    out.result = driver->ReadItem(&item, &out.value);
    out.code = driver->ErrorCode();
    return out;
  }
  Outcome Read(const std::string& address) { return ReadItem(Item(address)); }
  Outcome WriteItem(IoItem item, uint32_t bit) {
    Outcome out{0, 0, {}};
    out.value.DiscreteValue = bit;
    out.result = driver->WriteItem(&item, &out.value);
    out.code = driver->ErrorCode();
    return out;
  }
  Outcome Write(const std::string& address, uint32_t bit) { return WriteItem(Item(address), bit); }

  // Scans the module with a first read (which the gate then refuses) and
  // lets the clock run to the moment the gate opens, 2 s after construction.
  void ScanAndOpenGate() {
    const Outcome first = Read("TA26.0.0");
    ASSERT_EQ(first.code, ErrDelayNotElapsed);
    ASSERT_LT(clock().NowMs(), 2000);
    clock().Advance(2000 - clock().NowMs());
  }
  // Lets the clock run to the start of the next whole second at least 2 s
  // after the last gate opening at lastOpenedMs.
  void AwaitGate(int64_t lastOpenedMs) {
    const int64_t opens = (lastOpenedMs / 1000 + 2) * 1000;
    if (clock().NowMs() < opens) clock().Advance(opens - clock().NowMs());
  }

  // The commands the module took, as texts.
  std::vector<std::string> Commands() const { return bus.log().Commands(); }
  void ClearLog() { bus.log().Clear(); }

  FakeSerial serial_;
  sim::Bus bus;
  sim::Pxr5760Module& module = bus.Emplace<sim::Pxr5760Module>(26);
  std::unique_ptr<CPxr5760> driver;

 private:
  HostPort host_{1, "100"};
};

}  // namespace tarvo::test
