// A Cpxr5700 on a fake line whose far end is a bus with one pxr5700 model
// at address 10 ("0A"). Virtual time: every sleep is recorded and exact.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pxr5700/pxr5700.h"
#include "sim/bus.h"
#include "sim/pxr5700/module.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::test {

inline constexpr int16_t kDI = 0, kDO = 1, kTA = 2, kTB = 3, kWI = 4;

inline IoItem Item(int16_t reg, int32_t module, int16_t channel) {
  IoItem item{};
  item.RegisterIndex = reg;
  item.ModuleAddress = module;
  item.Channel = channel;
  item.DataType = reg <= kDO ? kDataTypeDiscrete : kDataTypeFloat;
  return item;
}

// An untouched value record: both value fields hold marks a driver would
// not write.
inline IoValue Untouched() {
  IoValue value{};
  value.DiscreteValue = 0xDEADu;
  value.AnalogValue = -999.0f;
  return value;
}

inline std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class Pxr5700Line : public ::testing::Test {
 protected:
  static constexpr int32_t kTimeoutMs = 150;

  Pxr5700Line() { line().SetPeer(bus.Peer()); }
  void SetUp() override { ASSERT_EQ(driver.OpenPort(&host_.config), 1); }
  void TearDown() override { driver.ClosePort(); }

  FakeLine& line() { return serial.line(1); }
  FakeClock& clock() { return serial.clock(); }

  // Reads (or writes) the item; *value receives the record afterwards.
  int32_t Read(const IoItem& item, IoValue* value) {
    IoItem copy = item;
    return driver.ReadItem(&copy, value);
  }
  int32_t Write(const IoItem& item, uint32_t discrete) {
    IoItem copy = item;
    IoValue value = Untouched();
    value.DiscreteValue = discrete;
    return driver.WriteItem(&copy, &value);
  }
  // The commands written so far, one string each.
  std::vector<std::string> Commands() {
    std::vector<std::string> commands;
    for (const FakeWrite& write : serial.line(1).writes()) commands.push_back(Text(write.bytes));
    return commands;
  }

  FakeSerial serial;
  sim::Bus bus;
  sim::Pxr5700Module& module = bus.Emplace<sim::Pxr5700Module>(10);
  Cpxr5700 driver;

 private:
  HostPort host_{1, "150"};
};

}  // namespace tarvo::test
