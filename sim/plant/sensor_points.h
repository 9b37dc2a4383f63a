// Reads the channels and points of a sensor-point module (pxr5100, pxr5303,
// pxr530x, pxr5760) from a plant description; the families describe their
// channels alike:
//   "channels": [{"channel": 0, "points": [
//       {"point": 0, "ta": 21.5},
//       {"point": 1, "tb": 19.25, "wb": 45},
//       {"point": 2, "raw": "2b 00 0c 10"}]}]
// and differ in what a point gives. Points not listed are absent.
#pragma once

#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "sim/plant/family.h"
#include "sim/sensor_module.h"

namespace tarvo::sim {

// One point as its description gives it: its records at a time since the
// plant started (one, or the ones its module sends in turn).
struct PointSource {
  std::function<std::vector<RawRecord>(double seconds)> recordsAt;
  bool varies = false;  // false: the records at 0 s stay
};

struct PointReader {
  // The keys a point may have besides "point" and "comment", in the order
  // an error lists them.
  std::span<const std::string_view> keys;
  // Reads a point of `channel` (its keys checked); throws PlantValueError.
  std::function<PointSource(const PlantNode& point, int channel)> read;
};

// Fills `module` from the module description's "channels" and returns it
// with its update function and summary. A record that cannot be encoded
// (std::invalid_argument) fails the point. Throws PlantValueError.
PlantModule BuildSensorModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                              const PointReader& reader);

// The rules of the families whose points give values (sim/plant/
// value_source_reader.h) of their record's kinds, each under the kind in
// lower case ("ta"), or the raw 4-byte record as four hex bytes ("raw").
// Which kinds can share a point: the family's record layout.
struct KindRules {
  const RecordLayout& record;  // static storage
  // Whether a point of `channel` may carry values of the first two kinds,
  // TA and TB (a module that sends something else in b0 on the channel
  // does not allow them); null: every channel does.
  bool (*allowsTaTb)(int channel) = nullptr;
  std::string_view taTbRefusal = {};  // why, when it does not
};

// BuildSensorModule with points read by those rules.
PlantModule BuildKindModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                            const KindRules& rules);

}  // namespace tarvo::sim
