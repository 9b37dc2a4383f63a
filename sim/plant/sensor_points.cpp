#include "sim/plant/sensor_points.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/plant/raw_record_reader.h"
#include "sim/plant/value_source_reader.h"

namespace tarvo::sim {
namespace {

constexpr std::array<std::string_view, 4> kKinds = {"ta", "tb", "wa", "wb"};

struct PointSources {
  int channel;
  int point;
  std::array<std::optional<ValueSource>, kKinds.size()> kinds;
};

SensorValues ValuesAt(PointSources& sources, double seconds) {
  std::array<std::optional<double>, kKinds.size()> v;
  for (size_t i = 0; i < kKinds.size(); ++i)
    if (sources.kinds[i]) v[i] = sources.kinds[i]->At(seconds);
  return {v[0], v[1], v[2], v[3]};
}

}  // namespace

PlantModule BuildSensorModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                              const SensorFamilyRules& rules) {
  CheckModuleKeys(description, {"channels"});
  std::vector<PointSources> moving;
  std::vector<bool> channelSeen(static_cast<size_t>(module->channels()));
  int points = 0;
  int channels = 0;

  for (const PlantNode& channelNode : description.At("channels").Elements()) {
    channelNode.CheckKeys({"channel", "points", "comment"});
    const PlantNode number = channelNode.At("channel");
    const int channel = static_cast<int>(number.Integer(0, module->channels() - 1));
    if (channelSeen[static_cast<size_t>(channel)])
      number.Fail("channel " + std::to_string(channel) + " is described twice");
    channelSeen[static_cast<size_t>(channel)] = true;
    ++channels;

    for (const PlantNode& pointNode : channelNode.At("points").Elements()) {
      pointNode.CheckKeys({"point", "raw", "ta", "tb", "wa", "wb", "comment"});
      const PlantNode pointNumber = pointNode.At("point");
      const int point = static_cast<int>(pointNumber.Integer(0, module->points() - 1));
      if (module->Record(channel, point))
        pointNumber.Fail("point " + std::to_string(point) + " of channel " +
                         std::to_string(channel) + " is described twice");
      ++points;

      PointSources sources{channel, point, {}};
      bool anyKind = false;
      bool varies = false;
      for (size_t i = 0; i < kKinds.size(); ++i) {
        if (auto value = pointNode.Find(kKinds[i])) {
          if (i < 2 && !rules.allowsTaTb(channel)) value->Fail(std::string(rules.taTbRefusal));
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
      if (!anyKind) pointNode.Fail("a point needs values of ta, tb, wa or wb, or raw");
      try {
        module->SetRecord(channel, point, rules.encode(ValuesAt(sources, 0.0)));
      } catch (const std::invalid_argument& e) {
        pointNode.Fail(e.what());
      }
      if (varies) moving.push_back(std::move(sources));
    }
  }

  PlantModule built;
  SensorModule* target = module.get();
  if (!moving.empty()) {
    built.update = [target, encode = rules.encode,
                    moving = std::move(moving)](double seconds) mutable {
      for (PointSources& sources : moving)
        target->SetRecord(sources.channel, sources.point, encode(ValuesAt(sources, seconds)));
    };
  }
  built.module = std::move(module);
  built.summary = std::to_string(points) + (points == 1 ? " point" : " points") + " on " +
                  std::to_string(channels) + (channels == 1 ? " channel" : " channels");
  return built;
}

}  // namespace tarvo::sim
