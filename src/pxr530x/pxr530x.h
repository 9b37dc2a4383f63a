// CPxr530x: sensor modules with 8 channels of up to 64 points each, at
// module addresses 0..127. TA and TB are temperatures, WA a temperature
// (rejected when b2 is 0xFE) and WB a relative humidity (rejected when b3
// is 0xFE).
//
// Commands carry the module address in upper case. A module is scanned
// channel by channel ("*" AA c CR; a channel after channel 0 that gives no
// answer ends the scan); a block read ("#" AA "8" CR) fetches the whole
// module and is preceded by a 10000 ms wait. The read cycle is the sensor
// modules' one (driver/read_cycle.h).
#pragma once

#include "driver/read_cycle.h"
#include "tarvo/guids.h"

namespace tarvo {

class CPxr530x final : public readcycle::Driver {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr530x;
  static const readcycle::Traits kTraits;

  // Resets the tables of every CPxr530x object; see readcycle::Driver.
  CPxr530x();

  // The class's tables.
  static FamilyState<readcycle::Module>& SharedTables();
};

}  // namespace tarvo
