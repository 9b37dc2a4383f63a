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
#include <string>
#include <vector>

#include "sim/plant/family.h"
#include "sim/plant/raw_record_reader.h"
#include "sim/plant/sensor_points.h"
#include "sim/plant/value_source_reader.h"
#include "sim/pxr5760/module.h"

namespace tarvo::sim {
namespace {

constexpr std::string_view kPointKeys[] = {"raw", "ta", "hb", "kt", "inputs", "outputs", "ad"};
// The point's values in the order of kPxr5760Record.
constexpr std::string_view kValues[] = {"ta", "hb", "kt"};
constexpr std::string_view kBits[] = {"inputs", "outputs"};
constexpr uint8_t kAdType = 11;
// Ten bits of counts, 1023 for 5 V.
constexpr ValueRange kAdRange{0.0, 5.0};

RawRecord AdRecord(int subChannel, double volts) {
  const long counts = std::clamp(std::lround(volts * 1023 / 5), 0L, 1023L);
  RawRecord record{kAdType, static_cast<uint8_t>(counts & 0xFF),
                   static_cast<uint8_t>((subChannel << 5) | (counts >> 8)), 0};
  record[3] = static_cast<uint8_t>(record[0] + record[1] + record[2]);
  return record;
}

// AD: the sub-channels and their voltages, in the order sent.
PointSource ReadAd(const PlantNode& list) {
  std::vector<std::pair<int, ValueSource>> ad;
  std::array<bool, 8> seen{};
  bool varies = false;
  for (const PlantNode& element : list.Elements()) {
    element.CheckKeys({"sub_channel", "value", "comment"});
    const PlantNode number = element.At("sub_channel");
    const int subChannel = static_cast<int>(number.Integer(0, 7));
    if (seen[static_cast<size_t>(subChannel)])
      number.Fail("sub-channel " + std::to_string(subChannel) + " is described twice");
    seen[static_cast<size_t>(subChannel)] = true;
    ad.emplace_back(subChannel, ReadValueSource(element.At("value"), kAdRange));
    varies = varies || ad.back().second.varies();
  }
  if (ad.empty()) list.Fail("expected at least one sub-channel");
  return {[ad = std::move(ad)](double seconds) mutable {
            std::vector<RawRecord> records;
            for (auto& [subChannel, source] : ad)
              records.push_back(AdRecord(subChannel, source.At(seconds)));
            return records;
          },
          varies};
}

PointSource ReadPoint(const PlantNode& pointNode, int /*channel*/) {
  std::array<std::optional<ValueSource>, std::size(kValues) + std::size(kBits)> sources;
  int given = 0;
  bool varies = false;
  for (size_t i = 0; i < std::size(kValues); ++i) {
    if (auto value = pointNode.Find(kValues[i])) {
      sources[i] = ReadValueSource(*value, kPxr5760Record.fields[i].range);
      varies = varies || sources[i]->varies();
      ++given;
    }
  }
  for (size_t i = 0; i < std::size(kBits); ++i) {
    if (auto bits = pointNode.Find(kBits[i])) {
      sources[std::size(kValues) + i].emplace(
          ConstantValue{static_cast<double>(bits->Integer(0, 255))});
      ++given;
    }
  }
  if (auto raw = pointNode.Find("raw")) {
    if (given > 0 || pointNode.Has("ad"))
      raw->Fail("a point has either a raw record or values, not both");
    return {[record = ReadRawRecord(*raw)](double) { return std::vector<RawRecord>{record}; }};
  }
  if (auto ad = pointNode.Find("ad")) {
    if (given > 0) ad->Fail("a point with ad sends one record per sub-channel and no other values");
    return ReadAd(*ad);
  }
  if (given == 0)
    pointNode.Fail("a point needs values of ta, hb, kt, inputs, outputs or ad, or raw");
  // Points whose values move carry no outputs (ta, kt and outputs all
  // need b2), so the update never undoes a write.
  return {[sources = std::move(sources)](double seconds) mutable {
            std::array<std::optional<double>, std::size(kValues) + std::size(kBits)> values;
            for (size_t i = 0; i < sources.size(); ++i)
              if (sources[i]) values[i] = sources[i]->At(seconds);
            return std::vector<RawRecord>{EncodeRecord(kPxr5760Record, values)};
          },
          varies};
}

PlantModule Build(const PlantNode& description, int address) {
  return BuildSensorModule(description, std::make_unique<Pxr5760Module>(address),
                           {kPointKeys, &ReadPoint});
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
