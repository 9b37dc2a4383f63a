#include "sim/plant/plant_node.h"

#include <cctype>
#include <cmath>
#include <nlohmann/json.hpp>

#include "sim/plant/plant_error.h"

namespace tarvo::sim {
namespace {

using Json = nlohmann::ordered_json;

std::string KindOf(const Json& value) {
  switch (value.type()) {
    case Json::value_t::object:
      return "an object";
    case Json::value_t::array:
      return "a list";
    case Json::value_t::string:
      return "a text";
    case Json::value_t::boolean:
      return value.get<bool>() ? "true" : "false";
    case Json::value_t::null:
      return "null";
    default:
      return "a number";
  }
}

}  // namespace

std::string PlantNumberText(double value) {
  std::string text = std::to_string(value);
  // to_string gives six decimals; drop the zeros a reader does not need.
  if (text.find('.') != std::string::npos) {
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

PlantNode::PlantNode(const Json& value, JsonPath path) : value_(&value), path_(std::move(path)) {}

void PlantNode::Fail(const std::string& reason) const { throw PlantValueError(path_, reason); }

bool PlantNode::IsObject() const { return value_->is_object(); }
bool PlantNode::IsNumber() const { return value_->is_number(); }
bool PlantNode::IsString() const { return value_->is_string(); }

void PlantNode::RequireObject() const {
  if (!value_->is_object()) Fail("expected an object {...}, found " + KindOf(*value_));
}

bool PlantNode::Has(std::string_view key) const {
  RequireObject();
  return value_->contains(key);
}

std::optional<PlantNode> PlantNode::Find(std::string_view key) const {
  RequireObject();
  const auto found = value_->find(key);
  if (found == value_->end()) return std::nullopt;
  JsonPath path = path_;
  path.emplace_back(std::string(key));
  return PlantNode(*found, std::move(path));
}

PlantNode PlantNode::At(std::string_view key) const {
  std::optional<PlantNode> member = Find(key);
  if (!member) Fail("missing key \"" + std::string(key) + "\"");
  return *member;
}

void PlantNode::CheckKeys(std::span<const std::string_view> allowed) const {
  RequireObject();
  for (const auto& [key, value] : value_->items()) {
    bool known = false;
    for (std::string_view name : allowed) known = known || key == name;
    if (known) continue;
    std::string list;
    for (std::string_view name : allowed) {
      if (!list.empty()) list += ", ";
      list += name;
    }
    JsonPath path = path_;
    path.emplace_back(key);
    throw PlantValueError(std::move(path), "unknown key; expected one of: " + list);
  }
}

std::vector<PlantNode> PlantNode::Elements() const {
  if (!value_->is_array()) Fail("expected a list [...], found " + KindOf(*value_));
  std::vector<PlantNode> elements;
  for (size_t i = 0; i < value_->size(); ++i) {
    JsonPath path = path_;
    path.emplace_back(i);
    elements.emplace_back((*value_)[i], std::move(path));
  }
  return elements;
}

double PlantNode::Number() const {
  if (!value_->is_number()) Fail("expected a number, found " + KindOf(*value_));
  return value_->get<double>();
}

double PlantNode::Number(double min, double max) const {
  const double value = Number();
  if (!(value >= min && value <= max))
    Fail("expected a number from " + PlantNumberText(min) + " to " + PlantNumberText(max) +
         ", found " + PlantNumberText(value));
  return value;
}

int64_t PlantNode::Integer(int64_t min, int64_t max) const {
  const std::string range =
      "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
  if (!value_->is_number()) Fail(range + ", found " + KindOf(*value_));
  const double value = value_->get<double>();
  if (value != std::floor(value) || value < static_cast<double>(min) ||
      value > static_cast<double>(max))
    Fail(range + ", found " + PlantNumberText(value));
  return static_cast<int64_t>(value);
}

bool PlantNode::Boolean() const {
  if (!value_->is_boolean()) Fail("expected true or false, found " + KindOf(*value_));
  return value_->get<bool>();
}

std::string PlantNode::String() const {
  if (!value_->is_string()) Fail("expected a text \"...\", found " + KindOf(*value_));
  return value_->get<std::string>();
}

uint8_t PlantNode::Byte() const {
  const std::string expected =
      "expected a byte: a whole number from 0 to 255, \"0x\" and two hex digits, or one ASCII "
      "character";
  if (value_->is_string()) {
    const std::string text = value_->get<std::string>();
    const bool hex = text.size() == 4 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) &&
                     std::isxdigit(static_cast<unsigned char>(text[2])) &&
                     std::isxdigit(static_cast<unsigned char>(text[3]));
    if (hex) return static_cast<uint8_t>(std::stoi(text.substr(2), nullptr, 16));
    if (text.size() != 1 || static_cast<unsigned char>(text[0]) > 0x7F) Fail(expected);
    return static_cast<uint8_t>(text[0]);
  }
  if (!value_->is_number()) Fail(expected + ", found " + KindOf(*value_));
  return static_cast<uint8_t>(Integer(0, 255));
}

}  // namespace tarvo::sim
