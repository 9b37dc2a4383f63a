// The pxr5303 in a plant description:
//   {"family": "pxr5303", "address": 2,
//    "channels": [{"channel": 0, "points": [{"point": 0, "ta": 21.5}]},
//                 {"channel": 1, "points": [{"point": 0, "wa": 22, "wb": 40}]}]}
// Channels 0..2, points 0..15; the points as sim/plant/sensor_points.h
// reads them. On channels 1 and 2 the module sends the point number in b0,
// so points there carry wa and wb (or raw), not ta or tb.
#include "sim/plant/family.h"
#include "sim/plant/sensor_points.h"
#include "sim/pxr530x/module_5303.h"

namespace tarvo::sim {
namespace {

PlantModule Build(const PlantNode& description, int address) {
  static constexpr KindRules kRules = {
      kPxr5303Record, [](int channel) { return channel == 0; },
      "on channels 1 and 2 the module sends the point number in b0, which ta and tb need; "
      "a point there carries wa and wb"};
  return BuildKindModule(description, std::make_unique<Pxr5303Module>(address), kRules);
}

constexpr std::string_view kDefaultModule = R"({
  "family": "pxr5303", "address": 2, "name": "cold store",
  "channels": [
    {"channel": 0, "points": [
      {"point": 0, "ta": {"sine": {"mean": 4.5, "amplitude": 1.5, "period": 40}}},
      {"point": 1, "tb": {"ramp": {"from": -2, "to": 6, "period": 60}}}
    ]},
    {"channel": 1, "points": [
      {"point": 0, "wa": {"sine": {"mean": 3, "amplitude": 0.5, "period": 50}}, "wb": 82.5}
    ]},
    {"channel": 2, "points": [
      {"point": 4, "wa": -18.25, "wb": 60}
    ]}
  ]
})";

}  // namespace

extern const PlantFamily kPxr5303PlantFamily = {
    "pxr5303", "sensor modules: 3 channels of up to 16 sensor points", &Build, kDefaultModule};

}  // namespace tarvo::sim
