// The pxr5100 in a plant description:
//   {"family": "pxr5100", "address": 1,
//    "channels": [{"channel": 0, "points": [
//        {"point": 0, "ta": 21.5},
//        {"point": 1, "tb": {"sine": {"mean": 20, "amplitude": 2, "period": 60}},
//         "wm": 123.45},
//        {"point": 2, "raw": "32 00 0c 10"}]}]}
// A point gives values (sim/plant/value_source_reader.h) of register kinds
// ta, tb, wa, wb, ua, ub, wm (which kinds can share a point:
// sim/pxr5100/module.h), or its raw 4-byte record as four hex bytes.
// Channels 0..7, points 0..63; points not listed are absent.
#include "sim/plant/family.h"
#include "sim/plant/sensor_points.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

PlantModule Build(const PlantNode& description, int address) {
  static constexpr KindRules kRules = {kPxr5100Record};
  return BuildKindModule(description, std::make_unique<Pxr5100Module>(address), kRules);
}

constexpr std::string_view kDefaultModule = R"({
  "family": "pxr5100", "address": 1, "name": "temperature chains",
  "channels": [
    {"channel": 0, "points": [
      {"point": 0, "ta": {"sine": {"mean": 21.5, "amplitude": 3, "period": 30}}},
      {"point": 1, "tb": {"ramp": {"from": 16, "to": 24, "period": 60}}, "wm": 123.45},
      {"point": 2, "wa": {"sine": {"mean": 22.5, "amplitude": 1, "period": 45, "phase": 90}},
                   "wb": {"random_walk": {"start": 45, "step": 0.8, "min": 30, "max": 70, "seed": 7}}},
      {"point": 3, "ua": {"sine": {"mean": -4, "amplitude": 2, "period": 40}}},
      {"point": 5, "ub": 12.5}
    ]},
    {"channel": 1, "points": [
      {"point": 0, "ta": 18.0},
      {"point": 7, "raw": "32 00 0c 10"}
    ]}
  ]
})";

}  // namespace

extern const PlantFamily kPxr5100PlantFamily = {
    "pxr5100", "temperature chains: 8 channels of up to 64 sensor points", &Build, kDefaultModule};

}  // namespace tarvo::sim
