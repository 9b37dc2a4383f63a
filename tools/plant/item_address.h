// Item addresses as a family's driver reads them. The drivers skip stray
// characters (TA1.0.0.5 reads TA1.0.0, DI4.x reads DI4.0), and some let
// numbers through that no read can use (a pxr5760 point of 40): a host may
// rely on the first, but a typo must never read another sensor, so
// tarvo-poll rebuilds the address each item was parsed as and refuses any
// text that differs, saying what the driver would have read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tarvo/records.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

class AddressRules {
 public:
  // registerNames: the class's register table in order, whose first entry
  // has RegisterIndex c.firstRegisterIndex. The class must outlive the rules.
  AddressRules(const DriverClass& c, std::vector<std::string> registerNames);

  // The address the driver reads for an item it parsed: "TA1.0.0".
  std::string Canonical(const IoItem& item) const;

  // For a text the driver accepted as item: nothing when the text is the
  // address the driver reads (the register name in any case) and every part
  // lies in the family's ranges; else why not, e.g.
  //   read as TA1.0.0; the ".5" is ignored by the driver
  //   point 40 is outside 0..31: the driver accepts the address, no read can use it
  std::optional<std::string> Check(std::string_view text, const IoItem& item) const;

  // For a text the driver refused: which part is missing or out of range,
  // e.g. "channel 8 is outside 0..7"; empty when none is found.
  std::string ExplainRefusal(std::string_view text) const;

 private:
  using Part = AddressPart;
  // The parts after the register name, or empty for a name not in the table.
  std::vector<Part> PartsOf(std::string_view registerName) const;
  std::string NameOf(const IoItem& item) const;

  const DriverClass& class_;
  std::vector<std::string> registerNames_;
};

}  // namespace tarvo::tools
