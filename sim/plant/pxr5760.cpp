// The pxr5760 in a plant description:
//   {"family": "pxr5760", "address": 5,
//    "channels": [{"channel": 0, "points": [
//        {"point": 0, "ta": 21.5, "hb": -8},
//        {"point": 1, "kt": {"sine": {"mean": 400, "amplitude": 50, "period": 60}}},
//        {"point": 2, "ad": [{"sub_channel": 3, "value": 2.5},
//                            {"sub_channel": 5, "value": 4.0}]},
//        {"point": 3, "inputs": 2, "outputs": 0},
//        {"point": 4, "raw": "0b ff e3 ed"}]}]}
// Channels 0..7, points 0..31. A point's record gives values
// (sim/plant/value_source_reader.h) of
//   ta       b2, b3: sixteenths of a degree, 11-bit magnitude, sign bit 3 of b3
//   hb       b1: halves, signed (-64 .. 63.5)
//   kt       b1 and the low half of b2: quarters (0 .. 1023.75)
//   inputs   b1: the eight input bits, a whole number 0..255
//   outputs  b2: the eight output bits at first, 0..255 (a write changes them)
// as far as they do not need the same bytes; or it is a raw record of four
// hex bytes; or "ad" lists sub-channels 0..7 with their voltages (0 .. 5 V),
// one record each, which the module sends in turn, one per block read
// (b0 the type code 11, b2 bits 7..5 the sub-channel, b3 the check sum).
#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/plant/family.h"
#include "sim/plant/raw_record_reader.h"
#include "sim/plant/value_source_reader.h"
#include "sim/pxr5760/module.h"

namespace tarvo::sim {
namespace {

constexpr std::array<std::string_view, 3> kKinds = {"ta", "hb", "kt"};
constexpr uint8_t kAdType = 11;

struct PointSources {
  int channel;
  int point;
  std::array<std::optional<ValueSource>, kKinds.size()> kinds;
  std::optional<uint8_t> inputs;
  std::optional<uint8_t> outputs;
  // AD: the sub-channels and their voltages, in the order sent.
  std::vector<std::pair<int, ValueSource>> ad;
};

// Which value holds each byte of the record being built.
class ByteOwners {
 public:
  void Claim(std::string_view kind, int first, int last) {
    for (int i = first; i <= last; ++i) {
      if (!owners_[i].empty()) {
        throw std::invalid_argument("pxr5760 record: " + std::string(kind) + " and " +
                                    std::string(owners_[i]) + " both need b" + std::to_string(i));
      }
      owners_[i] = kind;
    }
  }

 private:
  std::array<std::string_view, 4> owners_{};
};

uint8_t Clamped(long value, long min, long max) {
  return static_cast<uint8_t>(std::clamp(value, min, max) & 0xFF);
}

RawRecord RecordAt(PointSources& sources, double seconds) {
  RawRecord record{};
  ByteOwners owners;
  if (sources.kinds[0]) {
    owners.Claim("TA", 2, 3);
    PutTempSignMagnitude(record, sources.kinds[0]->At(seconds));
  }
  if (sources.kinds[1]) {
    owners.Claim("HB", 1, 1);
    record[1] = Clamped(std::lround(sources.kinds[1]->At(seconds) * 2), -128, 127);
  }
  if (sources.kinds[2]) {
    owners.Claim("KT", 1, 2);
    const long quarters = std::clamp(std::lround(sources.kinds[2]->At(seconds) * 4), 0L, 0xFFFL);
    record[1] = static_cast<uint8_t>(quarters & 0xFF);
    record[2] = static_cast<uint8_t>(quarters >> 8);
  }
  if (sources.inputs) {
    owners.Claim("inputs", 1, 1);
    record[1] = *sources.inputs;
  }
  if (sources.outputs) {
    owners.Claim("outputs", 2, 2);
    record[2] = *sources.outputs;
  }
  return record;
}

RawRecord AdRecord(int subChannel, double volts) {
  const long counts = std::clamp(std::lround(volts * 1023 / 5), 0L, 1023L);
  RawRecord record{kAdType, static_cast<uint8_t>(counts & 0xFF),
                   static_cast<uint8_t>((subChannel << 5) | (counts >> 8)), 0};
  record[3] = static_cast<uint8_t>(record[0] + record[1] + record[2]);
  return record;
}

std::vector<RawRecord> RecordsAt(PointSources& sources, double seconds) {
  if (sources.ad.empty()) return {RecordAt(sources, seconds)};
  std::vector<RawRecord> records;
  for (auto& [subChannel, source] : sources.ad)
    records.push_back(AdRecord(subChannel, source.At(seconds)));
  return records;
}

bool Varies(const PointSources& sources) {
  for (const auto& kind : sources.kinds)
    if (kind && kind->varies()) return true;
  for (const auto& [subChannel, source] : sources.ad)
    if (source.varies()) return true;
  return false;
}

void ReadAd(const PlantNode& list, PointSources& sources) {
  std::array<bool, 8> seen{};
  for (const PlantNode& element : list.Elements()) {
    element.CheckKeys({"sub_channel", "value", "comment"});
    const PlantNode number = element.At("sub_channel");
    const int subChannel = static_cast<int>(number.Integer(0, 7));
    if (seen[static_cast<size_t>(subChannel)])
      number.Fail("sub-channel " + std::to_string(subChannel) + " is described twice");
    seen[static_cast<size_t>(subChannel)] = true;
    sources.ad.emplace_back(subChannel, ReadValueSource(element.At("value")));
  }
  if (sources.ad.empty()) list.Fail("expected at least one sub-channel");
}

PlantModule Build(const PlantNode& description, int address) {
  CheckModuleKeys(description, {"channels"});
  auto module = std::make_unique<Pxr5760Module>(address);
  std::vector<PointSources> moving;
  std::array<bool, Pxr5760Module::kChannels> channelSeen{};
  int points = 0;
  int channels = 0;

  for (const PlantNode& channelNode : description.At("channels").Elements()) {
    channelNode.CheckKeys({"channel", "points", "comment"});
    const PlantNode number = channelNode.At("channel");
    const int channel = static_cast<int>(number.Integer(0, Pxr5760Module::kChannels - 1));
    if (channelSeen[static_cast<size_t>(channel)])
      number.Fail("channel " + std::to_string(channel) + " is described twice");
    channelSeen[static_cast<size_t>(channel)] = true;
    ++channels;

    for (const PlantNode& pointNode : channelNode.At("points").Elements()) {
      pointNode.CheckKeys({"point", "raw", "ta", "hb", "kt", "inputs", "outputs", "ad", "comment"});
      const PlantNode pointNumber = pointNode.At("point");
      const int point = static_cast<int>(pointNumber.Integer(0, Pxr5760Module::kPoints - 1));
      if (!module->Records(channel, point).empty())
        pointNumber.Fail("point " + std::to_string(point) + " of channel " +
                         std::to_string(channel) + " is described twice");
      ++points;

      PointSources sources{channel, point, {}, {}, {}, {}};
      int given = 0;
      for (size_t i = 0; i < kKinds.size(); ++i) {
        if (auto value = pointNode.Find(kKinds[i])) {
          sources.kinds[i] = ReadValueSource(*value);
          ++given;
        }
      }
      if (auto inputs = pointNode.Find("inputs")) {
        sources.inputs = static_cast<uint8_t>(inputs->Integer(0, 255));
        ++given;
      }
      if (auto outputs = pointNode.Find("outputs")) {
        sources.outputs = static_cast<uint8_t>(outputs->Integer(0, 255));
        ++given;
      }
      if (auto raw = pointNode.Find("raw")) {
        if (given > 0 || pointNode.Has("ad"))
          raw->Fail("a point has either a raw record or values, not both");
        module->SetRecord(channel, point, ReadRawRecord(*raw));
        continue;
      }
      if (auto ad = pointNode.Find("ad")) {
        if (given > 0)
          ad->Fail("a point with ad sends one record per sub-channel and no other values");
        ReadAd(*ad, sources);
        ++given;
      }
      if (given == 0)
        pointNode.Fail("a point needs values of ta, hb, kt, inputs, outputs or ad, or raw");
      try {
        module->SetRecords(channel, point, RecordsAt(sources, 0.0));
      } catch (const std::invalid_argument& e) {
        pointNode.Fail(e.what());
      }
      if (Varies(sources)) moving.push_back(std::move(sources));
    }
  }

  PlantModule built;
  Pxr5760Module* target = module.get();
  if (!moving.empty()) {
    // Points whose values move carry no outputs (ta, kt and outputs all
    // need b2), so a write is never undone here.
    built.update = [target, moving = std::move(moving)](double seconds) mutable {
      for (PointSources& sources : moving)
        target->SetRecords(sources.channel, sources.point, RecordsAt(sources, seconds));
    };
  }
  built.module = std::move(module);
  built.summary = std::to_string(points) + (points == 1 ? " point" : " points") + " on " +
                  std::to_string(channels) + (channels == 1 ? " channel" : " channels");
  return built;
}

constexpr std::string_view kDefaultModule = R"({
  "family": "pxr5760", "address": 5, "name": "kiln line",
  "channels": [
    {"channel": 0, "points": [
      {"point": 0, "ta": {"sine": {"mean": 62, "amplitude": 5, "period": 60}}},
      {"point": 1, "hb": -8},
      {"point": 2, "kt": {"ramp": {"from": 380, "to": 420, "period": 80}}}
    ]},
    {"channel": 1, "points": [
      {"point": 0, "ad": [{"sub_channel": 3, "value": {"sine": {"mean": 2.5, "amplitude": 0.5, "period": 30}}}]}
    ]},
    {"channel": 2, "points": [
      {"point": 0, "inputs": 2, "outputs": 0}
    ]}
  ]
})";

}  // namespace

extern const PlantFamily kPxr5760PlantFamily = {
    "pxr5760", "bus-point modules: 8 channels of up to 32 bus points", &Build, kDefaultModule};

}  // namespace tarvo::sim
