// The driver classes the tools know, one row per class: how the user names
// it, its identity, and the family's facts the tools plan by (how its
// items are addressed, how long its largest answer is, how its modules
// hand out fresh values). A class the loaded library does not offer is
// refused when it is created, not here. Nothing else in the tools tells
// one family from another.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tarvo/com.h"

namespace tarvo::tools {

// How a family's module hands out fresh values, which decides what a host
// can read in one cycle.
enum class RefreshRule {
  kEachRead,     // every read is its own exchange (or served from its reply)
  kChannelGate,  // a block read refreshes one channel; one per module every 2 whole seconds
  kModuleGate,   // a block read refreshes the module; one per module every 2 whole seconds
  kBlockWait,    // a block read refreshes the module after a fixed wait, no gate
};

// The largest answer of a family and the waits the driver gives it.
struct AnswerTiming {
  int32_t bytes;  // the family's largest answer
  // Time-outs the driver waits between the command and its read (pxr5100
  // settles one time-out before a read that sleeps another).
  int waits;
  int32_t minimumWaitMs;  // a wait is never shorter (pxr5700: 100 ms)
};

// One part of an item address after the register name, with its range.
struct AddressPart {
  std::string_view name;  // "module", "channel", ...
  int first;
  int last;
};

// The parts of the addresses of some registers of a class.
struct AddressForm {
  // The registers it serves, e.g. "DI DO"; empty: every register that no
  // earlier form names.
  std::string_view registers;
  AddressPart parts[4];
  int partCount;
};

// Registers of one point whose values one block read makes fresh together:
// the driver hands that fresh value to one read of either, so they are
// read on successive block reads.
struct SharedFreshValue {
  int16_t registers[2];  // RegisterIndex
  bool perSubIndex;      // one fresh value per SubIndex (a bit), else one for all
};

struct DriverClass {
  std::string_view family;     // "pxr5100"
  std::string_view className;  // "Cpxr5100"
  std::string_view progId;     // "Tarvo.pxr5100"
  const CLSID* clsid;
  // RegisterIndex of the first register table entry (0 or 1).
  int firstRegisterIndex;
  RefreshRule refresh;
  // Seconds the driver waits before each block read (kBlockWait).
  double blockWaitSeconds;
  // Seconds from the end of one poll to the start of the next when -i is
  // not given: enough for the modules' refresh gate where the family has
  // one (a gate that opens 2 whole seconds after the last block read).
  double defaultIntervalSeconds;
  // Seconds from the creation of the driver object until a write can pass
  // the module's gate, where writes share it (0: writes need no wait).
  // Written items otherwise fail at once on a new object.
  double writeGateSeconds;
  // How items are addressed, for --list (lines separated by '\n').
  std::string_view addressSyntax;
  // The parts of its addresses; the first form that names a register serves it.
  std::span<const AddressForm> addressForms;
  AnswerTiming largestAnswer;
  std::span<const SharedFreshValue> sharedFreshValues;

  // The form that serves a register name (upper case); null for none.
  const AddressForm* FormOf(std::string_view registerName) const;
};

// What a register's value measures, and so its unit.
enum class Quantity {
  kTemperature,  // degrees Celsius
  kHumidity,     // relative humidity in percent
  kVoltage,      // volts
  kState,        // a digital input or output: 0 or 1
  kPlain,        // a number of no fixed unit
};

// The quantity of a family's register by its name (upper case, "TA");
// kPlain for a register the family does not have.
Quantity QuantityOf(std::string_view family, std::string_view registerName);

std::span<const DriverClass> DriverClasses();
// By family ("pxr5100"), class name ("Cpxr5100") or ProgID
// ("Tarvo.pxr5100"), without regard to case; null when none matches.
const DriverClass* FindDriverClass(std::string_view name);

}  // namespace tarvo::tools
