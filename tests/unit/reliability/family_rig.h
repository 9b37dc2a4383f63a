// One driver class as a host uses it: created through the server's class
// factory and driven through IIoDriver only, on a fake line whose far end
// is a simulated bus with the family's module (support/rig_families.h), in
// virtual time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sim/bus.h"
#include "support/fake_serial.h"
#include "support/rig_families.h"
#include "tarvo/errors.h"
#include "tarvo/io_driver.h"
#include "tarvo/records.h"

namespace tarvo::test {

inline constexpr int64_t kRigStartMs = 1'000'000;  // a whole second: gates count from 1000
inline constexpr const char* kRigTimeout = "300";  // the transfer time-out, ms

// Marks a value record starts with, so that a field a poll left alone shows.
inline constexpr uint32_t kUntouchedBits = 0xDEADBEEF;
inline constexpr float kUntouchedAnalog = -999.0f;

enum class Operation { kRead, kWrite };

struct PollResult {
  int32_t result;
  // The code the host learns from GetErrorText (the first code with that
  // text; codes 4 and 19 share one).
  DriverError code;
  // The record after the poll. A read's started with both fields
  // untouched, a write's with DiscreteValue 1 and AnalogValue untouched.
  IoValue value;
  size_t exchanges;   // commands the module took during the poll
  size_t writes;      // writes on the line during the poll, to any address
  int64_t elapsedMs;  // virtual time the poll blocked
};

class FamilyRig {
 public:
  // Creates the object and, unless openPort is false, opens port 1 for it.
  explicit FamilyRig(const FamilySpec& spec, bool openPort = true);
  ~FamilyRig();
  FamilyRig(const FamilyRig&) = delete;
  FamilyRig& operator=(const FamilyRig&) = delete;

  // Reads the read item, or writes 1 to the write item (to the read item
  // in the families that write nothing).
  PollResult Poll(Operation operation);
  // The same with any item, parsed or not.
  PollResult PollItem(Operation operation, IoItem item);
  // OpenPort with the rig's settings (SharedHandle as the last open left it).
  int32_t OpenPort() { return driver_->OpenPort(&config_); }
  // Time the host spends between polls.
  void Wait(int64_t ms) { serial_.clock().Advance(ms); }

  sim::Module& module() { return *module_; }
  sim::Bus& bus() { return bus_; }
  FakeSerial& serial() { return serial_; }
  IIoDriver& driver() { return *driver_; }

 private:
  FakeSerial serial_{kRigStartMs};
  sim::Bus bus_;
  sim::Module* module_ = nullptr;
  IIoDriver* driver_ = nullptr;
  LineSettings settings_{};
  PortConfig config_{};
  IoItem readItem_{};
  IoItem writeItem_{};
};

}  // namespace tarvo::test
