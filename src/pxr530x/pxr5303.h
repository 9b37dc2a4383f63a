// CPxr5303: sensor modules with 3 channels of up to 16 points each, at
// module addresses 0..127. TA and TB are temperatures, WA a temperature and
// WB a half-unit value; WA and WB reject a record whose b1 is 0xFF. A block
// read of a module runs at most once every 2 whole seconds.
#pragma once

#include "pxr530x/sensor_module_driver.h"
#include "tarvo/guids.h"

namespace tarvo {

class CPxr5303 final : public pxr530x::SensorModuleDriver {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr5303;
  static const pxr530x::ClassTraits kTraits;

  // Resets the tables of every CPxr5303 object; see SensorModuleDriver.
  CPxr5303();
};

}  // namespace tarvo
