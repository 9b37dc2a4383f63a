// CPxr530x: sensor modules with 8 channels of up to 64 points each, at
// module addresses 0..127. TA and TB are temperatures, WA a temperature
// (rejected when b2 is 0xFE) and WB a relative humidity (rejected when b3
// is 0xFE). Every block read is preceded by a 10000 ms wait.
#pragma once

#include "pxr530x/sensor_module_driver.h"
#include "tarvo/guids.h"

namespace tarvo {

class CPxr530x final : public pxr530x::SensorModuleDriver {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr530x;
  static const pxr530x::ClassTraits kTraits;

  // Resets the tables of every CPxr530x object; see SensorModuleDriver.
  CPxr530x();
};

}  // namespace tarvo
