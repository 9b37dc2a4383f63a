// One driver object of one family as a host holds it: created through
// DllGetClassObject and the class factory, used through IIoDriver only, on
// a port of a fake serial whose line's far end is a simulated bus, in the
// fake clock's virtual time. Serves the reliability tests (the family's
// rig module of support/rig_families.h, polled with their outcome) and the
// benchmarks (tests/bench/ fills the bus with modules of its own).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "sim/bus.h"
#include "support/fake_serial.h"
#include "support/host_port.h"
#include "support/rig_families.h"
#include "tarvo/errors.h"
#include "tarvo/tarvo.h"

namespace tarvo::test {

inline constexpr int64_t kRigStartMs = 1'000'000;  // a whole second: gates count from 1000
inline constexpr const char* kRigTimeout = "300";  // the transfer time-out, ms

// Marks a value record starts with, so that a field a poll left alone shows.
inline constexpr uint32_t kUntouchedBits = 0xDEADBEEF;
inline constexpr float kUntouchedAnalog = -999.0f;

// A new object of the class through the linked DllGetClassObject and its
// class factory, as IIoDriver (the caller releases it), or null.
IIoDriver* CreateDriver(const CLSID& clsid);

enum class Operation { kRead, kWrite };

struct PollResult {
  int32_t result;
  // The code the host learns from GetErrorText (the first code with that
  // text; codes 4 and 19 share one).
  DriverError code;
  // The record after the poll. A read's started with both fields
  // untouched, a write's with DiscreteValue 1 and AnalogValue untouched.
  IoValue value;
  size_t exchanges;   // commands the rig module took during the poll
  size_t writes;      // writes on the line during the poll, to any address
  int64_t elapsedMs;  // virtual time the poll blocked
};

class FamilyRig {
 public:
  // The family's rig module on port 1 of a serial of its own (its clock at
  // kRigStartMs), transfer time-out kRigTimeout; opens the port unless
  // openPort is false. Throws std::runtime_error when a step fails.
  explicit FamilyRig(const FamilySpec& spec, bool openPort = true);
  // An empty bus on `port` (1..255) of `serial`, which other rigs may
  // share, with the transfer time-out `timeout`; opens the port. Throws
  // std::runtime_error when a step fails.
  FamilyRig(FakeSerial& serial, int32_t port, const FamilySpec& spec, const char* timeout);
  ~FamilyRig();
  FamilyRig(const FamilyRig&) = delete;
  FamilyRig& operator=(const FamilyRig&) = delete;

  // Reads the read item, or writes 1 to the write item (to the read item
  // in the families that write nothing). Rigs with the rig module only.
  PollResult Poll(Operation operation);
  // The same with any item, parsed or not.
  PollResult PollItem(Operation operation, IoItem item);
  // OpenPort with the rig's settings (SharedHandle as the last open left it).
  int32_t OpenPort() { return driver_->OpenPort(&port_.config); }
  // Time the host spends between polls.
  void Wait(int64_t ms) { serial_.clock().Advance(ms); }

  // The rig module (null on a bus the caller fills).
  sim::Module& module() { return *module_; }
  sim::Bus& bus() { return bus_; }
  FakeSerial& serial() { return serial_; }
  FakeLine& line() { return serial_.line(portNumber_); }
  IIoDriver& driver() { return *driver_; }

 private:
  // Creates the object and opens the port unless openPort is false.
  void Start(const FamilySpec& spec, bool openPort);

  std::unique_ptr<FakeSerial> owned_;  // null when the serial is shared
  FakeSerial& serial_;
  int32_t portNumber_;
  sim::Bus bus_;
  sim::Module* module_ = nullptr;
  IIoDriver* driver_ = nullptr;
  HostPort port_;
  IoItem readItem_{};
  IoItem writeItem_{};
};

}  // namespace tarvo::test
