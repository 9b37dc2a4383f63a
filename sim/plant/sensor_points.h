// Reads the channels and points of a pxr5303 or pxr530x module from a plant
// description (the two families describe their points alike):
//   "channels": [{"channel": 0, "points": [
//       {"point": 0, "ta": 21.5},
//       {"point": 1, "tb": 19.25, "wb": 45},
//       {"point": 2, "raw": "2b 00 0c 10"}]}]
// A point gives values (sim/plant/value_source_reader.h) of the register
// kinds ta, tb, wa, wb (which kinds can share a point: sim/pxr530x/encode.h),
// or its raw 4-byte record as four hex bytes. Points not listed are absent.
#pragma once

#include <string_view>

#include "sim/plant/family.h"
#include "sim/pxr530x/encode.h"
#include "sim/pxr530x/sensor_module.h"

namespace tarvo::sim {

struct SensorFamilyRules {
  RawRecord (*encode)(const SensorValues& values);
  // Whether a point of `channel` may carry values of ta and tb (a module
  // that sends something else in b0 on the channel does not allow them).
  bool (*allowsTaTb)(int channel);
  std::string_view taTbRefusal;  // why, when it does not
};

// Fills `module` from the module description's "channels" and returns it
// with its update function and summary. Throws PlantValueError.
PlantModule BuildSensorModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                              const SensorFamilyRules& rules);

}  // namespace tarvo::sim
