// The pxr530x in a plant description:
//   {"family": "pxr530x", "address": 3,
//    "channels": [{"channel": 0, "points": [{"point": 0, "ta": 21.5}]},
//                 {"channel": 7, "points": [{"point": 63, "wa": 22, "wb": 40}]}]}
// Channels 0..7, points 0..63; the points as sim/plant/sensor_points.h
// reads them (wb is relative humidity, 0..100 %).
#include "sim/plant/family.h"
#include "sim/plant/sensor_points.h"
#include "sim/pxr530x/module_530x.h"

namespace tarvo::sim {
namespace {

PlantModule Build(const PlantNode& description, int address) {
  static constexpr KindRules kRules = {kPxr530xRecord};
  return BuildKindModule(description, std::make_unique<Pxr530xModule>(address), kRules);
}

constexpr std::string_view kDefaultModule = R"({
  "family": "pxr530x", "address": 3, "name": "greenhouse",
  "channels": [
    {"channel": 0, "points": [
      {"point": 0, "ta": {"sine": {"mean": 24, "amplitude": 2, "period": 90}}},
      {"point": 1, "tb": {"ramp": {"from": 18, "to": 26, "period": 120}}, "wb": 55}
    ]},
    {"channel": 1, "points": [
      {"point": 0, "wa": 21.5, "wb": {"random_walk": {"start": 65, "step": 1, "min": 40, "max": 90, "seed": 3}}}
    ]}
  ]
})";

}  // namespace

extern const PlantFamily kPxr530xPlantFamily = {
    "pxr530x", "sensor modules: 8 channels of up to 64 sensor points", &Build, kDefaultModule};

}  // namespace tarvo::sim
