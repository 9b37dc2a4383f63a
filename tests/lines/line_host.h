// What the tests of lines used side by side share: a module's readings per
// family, and a driver object as a host holds it.
#pragma once

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "server/server_classes.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"
#include "sim/sensor_module.h"
#include "support/rig_families.h"
#include "tarvo/guids.h"
#include "tarvo/io_driver.h"

namespace tarvo::test {

// TA of value degrees in each family's record.
inline sim::RawRecord Sensor(float degrees) { return {static_cast<uint8_t>(degrees * 2), 0, 0, 0}; }
inline sim::RawRecord BusPoint(float degrees) {
  return {0, 0, static_cast<uint8_t>(degrees * 16), 0};
}

// Gives the module of the rig's family the reading `read` at its read item
// and `sibling` at an item the same exchange brings.
inline void SetReadings(sim::Module& module, size_t family, float read, float sibling) {
  if (auto* bus = dynamic_cast<sim::Pxr5760Module*>(&module)) {
    bus->SetRecord(0, 1, BusPoint(read));
    bus->SetRecord(0, 0, BusPoint(sibling));
  } else if (auto* s = dynamic_cast<sim::SensorModule*>(&module)) {
    s->SetRecord(0, 1, Sensor(read));
    s->SetRecord(0, 0, Sensor(sibling));
  } else if (auto* io = dynamic_cast<sim::Pxr5700Module*>(&module)) {
    io->SetTemperatureRecord(1, Sensor(read));
    io->SetTemperatureRecord(2, Sensor(sibling));
  } else {
    throw std::logic_error(std::string("no readings for ") + Family(family).name);
  }
}

// The item the read item's exchange also brings, per family.
inline const char* const kSibling[kFamilyCount] = {"TA26.0.0", "TA26.0.0", "TA26.0.0", "TA26.2",
                                                   "TA26.0.0"};
// The first byte of the family's scan questions (none for the pxr5700).
inline const char kScanLead[kFamilyCount] = {'*', '$', '*', 0, '*'};

class Host {
 public:
  explicit Host(const FamilySpec& spec) {
    void* object = nullptr;
    if (FindServerClass(*spec.clsid)->create(IID_IIoDriver, &object) != S_OK)
      throw std::runtime_error("cannot create the object");
    driver_ = static_cast<IIoDriver*>(object);
  }
  ~Host() {
    driver_->ClosePort(0);
    driver_->Release();
  }
  int32_t Open(PortConfig* config) { return driver_->OpenPort(config); }
  // The item's value, or NaN when the read failed (*code, when given,
  // receives the code).
  float Read(const char* address, int32_t* code = nullptr) {
    IoItem item{};
    item.DataType = kDataTypeFloat;
    EXPECT_EQ(driver_->ParseItem(address, &item), 1) << address;
    IoValue value{};
    const int32_t result = driver_->ReadItem(0, &item, &value);
    const char* text = driver_->GetErrorText();
    if (code != nullptr) {
      *code = -1;
      for (int32_t c = kErrorCount - 1; c >= 0; --c)
        if (std::strcmp(text, ErrorText(c)) == 0) *code = c;
    }
    return result == 1 ? value.AnalogValue : NAN;
  }

 private:
  IIoDriver* driver_ = nullptr;
};

}  // namespace tarvo::test
