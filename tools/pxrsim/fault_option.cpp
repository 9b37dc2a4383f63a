#include "tools/pxrsim/fault_option.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <stdexcept>

#include "sim/plant/faults_reader.h"
#include "sim/plant/plant_names.h"

namespace tarvo::tools {
namespace {

using plant::PlantValue;

PlantValue Boolean(bool value) {
  PlantValue boolean = PlantValue::Of(PlantValue::Kind::kBoolean);
  boolean.boolean = value;
  return boolean;
}

// A switch's value as a plant file gives it: on/off switches take 1 and 0
// too, bytes their "0x21" form (a text, as in a plant file).
PlantValue ValueOf(std::string_view name, std::string_view text) {
  const bool onOff =
      std::find(std::begin(sim::kOnOffFaultSwitches), std::end(sim::kOnOffFaultSwitches), name) !=
      std::end(sim::kOnOffFaultSwitches);
  if (text == "true" || (onOff && text == "1")) return Boolean(true);
  if (text == "false" || (onOff && text == "0")) return Boolean(false);
  long long number = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
  PlantValue value = PlantValue::Of(PlantValue::Kind::kText);
  if (status == std::errc() && end == text.data() + text.size()) {
    value.kind = PlantValue::Kind::kNumber;
    value.number = static_cast<double>(number);
  } else {
    value.text = std::string(text);
  }
  return value;
}

// A switch given again takes its last value.
void SetMember(PlantValue& object, const std::string& key, PlantValue value) {
  for (plant::PlantMember& member : object.members) {
    if (member.key == key) {
      member.value = std::move(value);
      return;
    }
  }
  object.members.push_back({key, {}, std::move(value)});
}

}  // namespace

FaultOption ParseFaultOption(std::string_view text) {
  const auto fail = [&](const std::string& why) -> FaultOption {
    throw std::invalid_argument("--fault " + std::string(text) + ": " + why);
  };
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon + 1 >= text.size())
    return fail("expected ADDRESS:SWITCH[=VALUE][,...], e.g. 1:delay_ms=600");
  FaultOption option;
  const std::string_view address = text.substr(0, colon);
  if (address != "all") {
    int number = -1;
    const auto [end, status] =
        std::from_chars(address.data(), address.data() + address.size(), number);
    if (status != std::errc() || end != address.data() + address.size() || number < 0 ||
        number > 127)
      return fail("the address must be 0..127 or all");
    option.address = number;
  }
  PlantValue switches = PlantValue::Of(PlantValue::Kind::kObject);
  std::string_view rest = text.substr(colon + 1);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const size_t equals = item.find('=');
    const std::string name(item.substr(0, equals));
    if (name.empty()) return fail("a switch has no name");
    if (equals != std::string_view::npos && equals + 1 == item.size())
      return fail("switch " + name + " has no value after '='");
    PlantValue value =
        equals == std::string_view::npos ? Boolean(true) : ValueOf(name, item.substr(equals + 1));
    SetMember(switches, name, std::move(value));
  }
  try {
    option.setting = sim::ReadFaults(sim::PlantNode(switches, {}));
  } catch (const sim::PlantError& e) {
    return fail(e.what());
  }
  return option;
}

}  // namespace tarvo::tools
