// Cpxr5100: temperature-acquisition modules with 8 channels, each a chain
// of up to 64 digital sensors, at module addresses 0..127. Seven float
// registers per sensor: TA, TB, WA, WB, UA, UB, WM (indices 1..7).
//
// Commands carry the module address in lower case. A module is scanned
// channel by channel ("*" mm c CR, every channel must answer); a block read
// ("#" mm c CR) fetches one channel's records, at most one block read per
// module every 2 whole seconds. The read cycle is the sensor modules' one
// (driver/read_cycle.h).
#pragma once

#include <cstdint>

#include "driver/read_cycle.h"
#include "tarvo/guids.h"

namespace tarvo {

class Cpxr5100 final : public readcycle::Driver {
 public:
  static constexpr const IID& kDispatchIid = DIID_Ipxr5100;
  static const readcycle::Traits kTraits;
  static constexpr int16_t kLastChannel = 7;
  static constexpr int16_t kLastPoint = 63;

  // Resets the tables of every Cpxr5100 object; see readcycle::Driver.
  Cpxr5100();

  // The class's tables (tests look into them).
  static FamilyState<readcycle::Module>& SharedTables();
};

}  // namespace tarvo
