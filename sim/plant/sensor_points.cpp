#include "sim/plant/sensor_points.h"

#include <cctype>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/plant/raw_record_reader.h"
#include "sim/plant/value_source_reader.h"

namespace tarvo::sim {
namespace {

std::string Plural(int count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

std::string LowerCase(std::string_view kind) {
  std::string key(kind);
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

// "ta, tb, wa or wb"
std::string Choice(std::span<const std::string> keys) {
  std::string text;
  for (size_t i = 0; i < keys.size(); ++i)
    text += (i == 0 ? "" : i + 1 == keys.size() ? " or " : ", ") + keys[i];
  return text;
}

}  // namespace

PlantModule BuildSensorModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                              const PointReader& reader) {
  CheckModuleKeys(description, {"channels"});
  std::vector<std::string_view> pointKeys{"point"};
  pointKeys.insert(pointKeys.end(), reader.keys.begin(), reader.keys.end());
  pointKeys.push_back("comment");
  struct Moving {
    int channel;
    int point;
    PointSource source;
  };
  std::vector<Moving> moving;
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
      pointNode.CheckKeys(pointKeys);
      const PlantNode pointNumber = pointNode.At("point");
      const int point = static_cast<int>(pointNumber.Integer(0, module->points() - 1));
      if (!module->Records(channel, point).empty())
        pointNumber.Fail("point " + std::to_string(point) + " of channel " +
                         std::to_string(channel) + " is described twice");
      ++points;

      PointSource source = reader.read(pointNode, channel);
      try {
        module->SetRecords(channel, point, source.recordsAt(0.0));
      } catch (const std::invalid_argument& e) {
        pointNode.Fail(e.what());
      }
      if (source.varies) moving.push_back({channel, point, std::move(source)});
    }
  }

  PlantModule built;
  SensorModule* target = module.get();
  if (!moving.empty()) {
    built.update = [target, moving = std::move(moving)](double seconds) mutable {
      for (Moving& m : moving) target->SetRecords(m.channel, m.point, m.source.recordsAt(seconds));
    };
  }
  built.module = std::move(module);
  built.summary = Plural(points, "point") + " on " + Plural(channels, "channel");
  return built;
}

PlantModule BuildKindModule(const PlantNode& description, std::unique_ptr<SensorModule> module,
                            const KindRules& rules) {
  std::vector<std::string> kinds;
  for (const RecordField& field : rules.record.fields) kinds.push_back(LowerCase(field.kind));
  std::vector<std::string_view> keys{"raw"};
  keys.insert(keys.end(), kinds.begin(), kinds.end());
  const std::string missing = "a point needs values of " + Choice(kinds) + ", or raw";

  const auto read = [&](const PlantNode& pointNode, int channel) {
    std::vector<std::optional<ValueSource>> sources(kinds.size());
    bool anyKind = false;
    bool varies = false;
    for (size_t i = 0; i < kinds.size(); ++i) {
      if (auto value = pointNode.Find(kinds[i])) {
        if (i < 2 && rules.allowsTaTb != nullptr && !rules.allowsTaTb(channel))
          value->Fail(std::string(rules.taTbRefusal));
        sources[i] = ReadValueSource(*value, rules.record.fields[i].range);
        anyKind = true;
        varies = varies || sources[i]->varies();
      }
    }
    if (auto raw = pointNode.Find("raw")) {
      if (anyKind) raw->Fail("a point has either a raw record or values of kinds, not both");
      return PointSource{
          [record = ReadRawRecord(*raw)](double) { return std::vector<RawRecord>{record}; }};
    }
    if (!anyKind) pointNode.Fail(missing);
    const RecordLayout* layout = &rules.record;
    return PointSource{[layout, sources = std::move(sources)](double seconds) mutable {
                         std::vector<std::optional<double>> values(sources.size());
                         for (size_t i = 0; i < sources.size(); ++i)
                           if (sources[i]) values[i] = sources[i]->At(seconds);
                         return std::vector<RawRecord>{EncodeRecord(*layout, values)};
                       },
                       varies};
  };
  return BuildSensorModule(description, std::move(module), {keys, read});
}

}  // namespace tarvo::sim
