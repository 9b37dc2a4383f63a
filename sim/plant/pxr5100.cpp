// The pxr5100 in a plant description:
//   {"family": "pxr5100", "address": 1,
//    "channels": [{"channel": 0, "points": [
//        {"point": 0, "ta": 21.5},
//        {"point": 1, "tb": {"sine": {"mean": 20, "amplitude": 2, "period": 60}},
//         "wm": 123.45},
//        {"point": 2, "raw": "32 00 0c 10"}]}]}
// A point gives values (sim/plant/value_source_reader.h) of register kinds
// ta, tb, wa, wb, ua, ub, wm (which kinds can share a point:
// sim/pxr5100/encode.h), or its raw 4-byte record as four hex bytes.
// Channels 0..7, points 0..63; points not listed are absent.
#include <array>
#include <optional>
#include <stdexcept>
#include <vector>

#include "sim/plant/family.h"
#include "sim/plant/raw_record_reader.h"
#include "sim/plant/value_source_reader.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

constexpr std::array<std::string_view, 7> kKinds = {"ta", "tb", "wa", "wb", "ua", "ub", "wm"};

struct PointSources {
  int channel;
  int point;
  std::array<std::optional<ValueSource>, kKinds.size()> kinds;
};

Pxr5100Values ValuesAt(PointSources& sources, double seconds) {
  std::array<std::optional<double>, kKinds.size()> v;
  for (size_t i = 0; i < kKinds.size(); ++i)
    if (sources.kinds[i]) v[i] = sources.kinds[i]->At(seconds);
  return {v[0], v[1], v[2], v[3], v[4], v[5], v[6]};
}

PlantModule Build(const PlantNode& description, int address) {
  CheckModuleKeys(description, {"channels"});
  auto module = std::make_unique<Pxr5100Module>(address);
  std::vector<PointSources> moving;
  std::array<bool, Pxr5100Module::kChannels> channelSeen{};
  int points = 0;
  int channels = 0;

  for (const PlantNode& channelNode : description.At("channels").Elements()) {
    channelNode.CheckKeys({"channel", "points", "comment"});
    const PlantNode number = channelNode.At("channel");
    const int channel = static_cast<int>(number.Integer(0, Pxr5100Module::kChannels - 1));
    if (channelSeen[static_cast<size_t>(channel)])
      number.Fail("channel " + std::to_string(channel) + " is described twice");
    channelSeen[static_cast<size_t>(channel)] = true;
    ++channels;

    for (const PlantNode& pointNode : channelNode.At("points").Elements()) {
      pointNode.CheckKeys({"point", "raw", "ta", "tb", "wa", "wb", "ua", "ub", "wm", "comment"});
      const PlantNode pointNumber = pointNode.At("point");
      const int point = static_cast<int>(pointNumber.Integer(0, Pxr5100Module::kPoints - 1));
      if (module->Record(channel, point))
        pointNumber.Fail("point " + std::to_string(point) + " of channel " +
                         std::to_string(channel) + " is described twice");
      ++points;

      PointSources sources{channel, point, {}};
      bool anyKind = false;
      bool varies = false;
      for (size_t i = 0; i < kKinds.size(); ++i) {
        if (auto value = pointNode.Find(kKinds[i])) {
          sources.kinds[i] = ReadValueSource(*value);
          anyKind = true;
          varies = varies || sources.kinds[i]->varies();
        }
      }
      if (auto raw = pointNode.Find("raw")) {
        if (anyKind) raw->Fail("a point has either a raw record or values of kinds, not both");
        module->SetRecord(channel, point, ReadRawRecord(*raw));
        continue;
      }
      if (!anyKind) pointNode.Fail("a point needs values of ta, tb, wa, wb, ua, ub or wm, or raw");
      try {
        module->SetValues(channel, point, ValuesAt(sources, 0.0));
      } catch (const std::invalid_argument& e) {
        pointNode.Fail(e.what());
      }
      if (varies) moving.push_back(std::move(sources));
    }
  }

  PlantModule built;
  Pxr5100Module* target = module.get();
  if (!moving.empty()) {
    built.update = [target, moving = std::move(moving)](double seconds) mutable {
      for (PointSources& sources : moving)
        target->SetValues(sources.channel, sources.point, ValuesAt(sources, seconds));
    };
  }
  built.module = std::move(module);
  built.summary = std::to_string(points) + (points == 1 ? " point" : " points") + " on " +
                  std::to_string(channels) + (channels == 1 ? " channel" : " channels");
  return built;
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
