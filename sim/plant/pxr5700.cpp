// The pxr5700 in a plant description:
//   {"family": "pxr5700", "address": 4,
//    "inputs": 5, "outputs": 0,
//    "temperatures": [{"channel": 1, "ta": 21.5},
//                     {"channel": 2, "tb": {"sine": {"mean": 20, "amplitude": 2, "period": 60}}}],
//    "numerics": [{"channel": 1, "value": 23.45}, {"channel": 2, "text": " -1. "}]}
// inputs and outputs are the eight bits as one whole number 0..255 (bit n
// for channel n; 0 when left out); outputs are only the initial states, a
// write changes them. A temperature channel (1 or 2) gives its reading as a
// value (sim/plant/value_source_reader.h) of ta or of tb (they read the
// same four bytes differently), or as a raw record of four hex bytes. A
// numeric channel (1 or 2) gives a value, sent as five characters with as
// many decimals as fit (at most 2; from -9999 to 99999), or its five
// characters as text. Channels not listed send what the module sends at
// first: zero bytes, five blanks.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/plant/family.h"
#include "sim/plant/raw_record_reader.h"
#include "sim/plant/value_source_reader.h"
#include "sim/pxr5700/module.h"

namespace tarvo::sim {
namespace {

struct MovingTemperature {
  int channel;
  bool extended;  // ta: the extended format; tb: 12 bits
  ValueSource source;
};

struct MovingNumeric {
  int channel;
  ValueSource source;
};

RawRecord TemperatureRecord(bool extended, double degrees) {
  RawRecord record{};
  if (extended)
    PutTempExtended(record, degrees);
  else
    PutTemp12(record, degrees);
  return record;
}

// The values whose five characters fit: "-9999" to "99999".
constexpr ValueRange kNumericRange{-9999.0, 99999.0};

std::string NumericText(double value) {
  value = std::clamp(value, kNumericRange.min, kNumericRange.max);
  char text[32];
  for (int decimals = 2; decimals > 0; --decimals) {
    std::snprintf(text, sizeof text, "%5.*f", decimals, value);
    if (std::string_view(text).size() == Pxr5700Module::kTextLength) return text;
  }
  std::snprintf(text, sizeof text, "%5.0f", value);
  return text;
}

// The channel number of one element of "temperatures" or "numerics".
int ReadChannel(const PlantNode& element, std::vector<bool>& seen) {
  const PlantNode number = element.At("channel");
  const int channel = static_cast<int>(number.Integer(1, 2));
  if (seen[static_cast<size_t>(channel)])
    number.Fail("channel " + std::to_string(channel) + " is described twice");
  seen[static_cast<size_t>(channel)] = true;
  return channel;
}

PlantModule Build(const PlantNode& description, int address) {
  CheckModuleKeys(description, {"inputs", "outputs", "temperatures", "numerics"});
  auto module = std::make_unique<Pxr5700Module>(address);
  if (auto inputs = description.Find("inputs"))
    module->SetInputs(static_cast<uint8_t>(inputs->Integer(0, 255)));
  if (auto outputs = description.Find("outputs"))
    module->SetOutputs(static_cast<uint8_t>(outputs->Integer(0, 255)));

  std::vector<MovingTemperature> temperatures;
  std::vector<MovingNumeric> numerics;
  int temperatureChannels = 0;
  int numericChannels = 0;

  if (auto list = description.Find("temperatures")) {
    std::vector<bool> seen(3);
    for (const PlantNode& element : list->Elements()) {
      element.CheckKeys({"channel", "ta", "tb", "raw", "comment"});
      const int channel = ReadChannel(element, seen);
      ++temperatureChannels;
      const std::optional<PlantNode> ta = element.Find("ta");
      const std::optional<PlantNode> tb = element.Find("tb");
      const std::optional<PlantNode> raw = element.Find("raw");
      if (int(ta.has_value()) + int(tb.has_value()) + int(raw.has_value()) != 1)
        element.Fail("a temperature channel gives one of ta, tb or raw");
      if (raw) {
        module->SetTemperatureRecord(channel, ReadRawRecord(*raw));
        continue;
      }
      MovingTemperature t{
          channel, ta.has_value(),
          ta ? ReadValueSource(*ta, kTempExtendedRange) : ReadValueSource(*tb, kTemp12Range)};
      try {
        module->SetTemperatureRecord(channel, TemperatureRecord(t.extended, t.source.At(0.0)));
      } catch (const std::invalid_argument& e) {
        (ta ? *ta : *tb).Fail(e.what());
      }
      if (t.source.varies()) temperatures.push_back(std::move(t));
    }
  }

  if (auto list = description.Find("numerics")) {
    std::vector<bool> seen(3);
    for (const PlantNode& element : list->Elements()) {
      element.CheckKeys({"channel", "value", "text", "comment"});
      const int channel = ReadChannel(element, seen);
      ++numericChannels;
      const std::optional<PlantNode> value = element.Find("value");
      const std::optional<PlantNode> text = element.Find("text");
      if (value.has_value() == text.has_value())
        element.Fail("a numeric channel gives one of value or text");
      if (text) {
        const std::string characters = text->String();
        if (characters.size() != Pxr5700Module::kTextLength)
          text->Fail("expected a text of exactly five characters, such as \"23.45\"");
        module->SetNumericText(channel, characters);
        continue;
      }
      MovingNumeric n{channel, ReadValueSource(*value, kNumericRange)};
      module->SetNumericText(channel, NumericText(n.source.At(0.0)));
      if (n.source.varies()) numerics.push_back(std::move(n));
    }
  }

  PlantModule built;
  Pxr5700Module* target = module.get();
  if (!temperatures.empty() || !numerics.empty()) {
    // Outputs are left alone: they hold what the host wrote.
    built.update = [target, temperatures = std::move(temperatures),
                    numerics = std::move(numerics)](double seconds) mutable {
      for (MovingTemperature& t : temperatures)
        target->SetTemperatureRecord(t.channel,
                                     TemperatureRecord(t.extended, t.source.At(seconds)));
      for (MovingNumeric& n : numerics)
        target->SetNumericText(n.channel, NumericText(n.source.At(seconds)));
    };
  }
  char bits[64];
  std::snprintf(bits, sizeof bits, "inputs %02X, outputs %02X", target->inputs(),
                target->outputs());
  built.module = std::move(module);
  built.summary =
      std::string(bits) + ", " + std::to_string(temperatureChannels) +
      (temperatureChannels == 1 ? " temperature channel, " : " temperature channels, ") +
      std::to_string(numericChannels) +
      (numericChannels == 1 ? " numeric channel" : " numeric channels");
  return built;
}

constexpr std::string_view kDefaultModule = R"({
  "family": "pxr5700", "address": 4, "name": "pump station",
  "inputs": 5, "outputs": 0,
  "temperatures": [
    {"channel": 1, "ta": {"sine": {"mean": 38, "amplitude": 4, "period": 45}}},
    {"channel": 2, "tb": 12.5}
  ],
  "numerics": [
    {"channel": 1, "value": {"ramp": {"from": 0, "to": 100, "period": 50}}},
    {"channel": 2, "text": "  -1."}
  ]
})";

}  // namespace

extern const PlantFamily kPxr5700PlantFamily = {
    "pxr5700", "I/O modules: 8 inputs, 8 outputs, 2 temperature and 2 numeric channels", &Build,
    kDefaultModule};

}  // namespace tarvo::sim
