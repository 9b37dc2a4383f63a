// CPxr5303: sensor modules with 3 channels of up to 16 points each, at
// module addresses 0..127. TA and TB are temperatures, WA a temperature and
// WB a half-unit value; WA and WB reject a record whose b1 is 0xFF.
//
// Commands carry the module address in upper case. A module is scanned
// with a summary of its channels (see pxr5303.cpp); a block read ("#" AA
// "8" CR) fetches the whole module, at most once every 2 whole seconds. The
// read cycle is the sensor modules' one (driver/read_cycle.h).
#pragma once

#include "driver/read_cycle.h"
#include "tarvo/guids.h"

namespace tarvo {

class CPxr5303 final : public readcycle::Driver {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr5303;
  static const readcycle::Traits kTraits;

  // Resets the tables of every CPxr5303 object; see readcycle::Driver.
  CPxr5303();

  // The class's tables.
  static FamilyState<readcycle::Module>& SharedTables();
};

}  // namespace tarvo
