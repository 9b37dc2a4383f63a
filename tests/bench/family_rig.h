// One driver object of one family as a host holds it (created by the class
// factory, used through IIoDriver only), on a fake line whose far end is a
// simulated bus, in the fake clock's virtual time. Serves the benchmarks
// that must not wait for real time: the cached read, memory and scale.
//
// A rig knows, for its family, the items that make the driver exchange with
// the module (Arm) and which items are then served without line traffic
// (FreshItems, found by probing).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "support/fake_serial.h"
#include "tarvo/tarvo.h"

namespace tarvo::bench {

enum class Family { kPxr5100, kPxr5303, kPxr530x, kPxr5700, kPxr5760 };
inline constexpr Family kFamilies[] = {Family::kPxr5100, Family::kPxr5303, Family::kPxr530x,
                                       Family::kPxr5700, Family::kPxr5760};

const char* FamilyName(Family family);
const CLSID& FamilyClass(Family family);

// A new object of the class through DllGetClassObject, or null.
IIoDriver* CreateDriver(const CLSID& clsid);

// Adds a module of the family at address to bus with a sensor or value at
// every point of every channel.
void AddFullModule(sim::Bus& bus, Family family, int address);

class FamilyRig {
 public:
  // Opens port (1..255) of serial with a time-out of 100 ms; the bus holds
  // one full module at each of modules' addresses.
  FamilyRig(test::FakeSerial& serial, int32_t port, Family family, const std::vector<int>& modules);
  ~FamilyRig();
  FamilyRig(const FamilyRig&) = delete;
  FamilyRig& operator=(const FamilyRig&) = delete;

  IIoDriver* driver() { return driver_; }
  test::FakeLine& line() { return serial_.line(port_); }
  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }

  // Items of module by address text; false (with error()) when one is refused.
  bool Parse(const std::vector<std::string>& addresses, std::vector<IoItem>* items);
  // Every item the family can read on module (each point, kind, bit, sub-channel).
  std::vector<std::string> AllAddresses(int module) const;
  // The items whose reads exchange with module: after Arm every item an
  // exchange refreshed is fresh again. Lets the gate open first.
  bool Arm(int module);
  // The items of AllAddresses(module) that every Arm(module) leaves fresh:
  // read right after it, each is served without line traffic. Found by
  // reading them (so they are consumed on return); empty, with error(), when
  // no such set settles.
  std::vector<IoItem> FreshItems(int module);
  // Reads items in order; the number of reads that did not return 1.
  int ReadAll(const std::vector<IoItem>& items);

 private:
  std::vector<std::string> ArmingAddresses(int module) const;

  test::FakeSerial& serial_;
  int32_t port_;
  Family family_;
  sim::Bus bus_;
  LineSettings settings_{};
  PortConfig config_{};
  IIoDriver* driver_ = nullptr;
  bool ok_ = false;
  std::string error_;
};

}  // namespace tarvo::bench
