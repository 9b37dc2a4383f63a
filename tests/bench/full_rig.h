// The benchmarks' rig (support/family_rig.h) with full modules: a sensor
// or value at every point of every channel. Knows, for its family, the
// items that make the driver exchange with a module (Arm) and which items
// are then served without line traffic (FreshItems, found by probing).
#pragma once

#include <string>
#include <vector>

#include "sim/bus.h"
#include "support/family_rig.h"

namespace tarvo::bench {

// In the order of test::Family(index).
enum class Family { kPxr5100, kPxr5303, kPxr530x, kPxr5700, kPxr5760 };
inline constexpr Family kFamilies[] = {Family::kPxr5100, Family::kPxr5303, Family::kPxr530x,
                                       Family::kPxr5700, Family::kPxr5760};

const test::FamilySpec& Spec(Family family);

// Adds a module of the family at address to bus with a sensor or value at
// every point of every channel.
void AddFullModule(sim::Bus& bus, Family family, int address);

class FullRig : public test::FamilyRig {
 public:
  // Opens port (1..255) of serial with a time-out of 100 ms; the bus holds
  // one full module at each of modules' addresses. Throws
  // std::runtime_error when the object cannot be created or opened.
  FullRig(test::FakeSerial& serial, int32_t port, Family family, const std::vector<int>& modules);

  // Why the last of the calls below failed.
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

  Family family_;
  std::string error_;
};

}  // namespace tarvo::bench
