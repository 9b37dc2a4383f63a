// The driver classes tarvo-poll knows, one row per class: how the user
// names it, its identity, and how its items are written. A class the
// loaded library does not offer is refused when it is created, not here.
#pragma once

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
};

std::span<const DriverClass> DriverClasses();
// By family ("pxr5100"), class name ("Cpxr5100") or ProgID
// ("Tarvo.pxr5100"), without regard to case; null when none matches.
const DriverClass* FindDriverClass(std::string_view name);

}  // namespace tarvo::tools
