#include "tools/plant/plant_node.h"

#include <cctype>
#include <cmath>

#include "tools/plant/plant_error.h"

namespace tarvo::plant {
namespace {

std::string KindOf(const PlantValue& value) {
  switch (value.kind) {
    case PlantValue::Kind::kObject:
      return "an object";
    case PlantValue::Kind::kList:
      return "a list";
    case PlantValue::Kind::kText:
      return "a text";
    case PlantValue::Kind::kBoolean:
      return value.boolean ? "true" : "false";
    case PlantValue::Kind::kNull:
      return "null";
    case PlantValue::Kind::kNumber:
      break;
  }
  return "a number";
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

PlantNode::PlantNode(const PlantValue& value, PlantPath path)
    : PlantNode(value, std::move(path), value.at) {}

PlantNode::PlantNode(const PlantValue& value, PlantPath path, TextPosition at)
    : value_(&value), path_(std::move(path)), at_(at) {}

PlantPath PlantNode::ChildPath(PlantStep step) const {
  PlantPath path;
  path.reserve(path_.size() + 1);
  path = path_;
  path.push_back(std::move(step));
  return path;
}

void PlantNode::Fail(const std::string& reason) const { throw PlantValueError(path_, at_, reason); }

bool PlantNode::IsObject() const { return value_->kind == Kind::kObject; }
bool PlantNode::IsNumber() const { return value_->kind == Kind::kNumber; }
bool PlantNode::IsString() const { return value_->kind == Kind::kText; }
bool PlantNode::IsBoolean() const { return value_->kind == Kind::kBoolean; }
bool PlantNode::IsNull() const { return value_->kind == Kind::kNull; }

void PlantNode::RequireObject() const {
  if (!IsObject()) Fail("expected an object {...}, found " + KindOf(*value_));
}

bool PlantNode::Has(std::string_view key) const { return Find(key).has_value(); }

std::optional<PlantNode> PlantNode::Find(std::string_view key) const {
  RequireObject();
  for (const PlantMember& member : value_->members) {
    if (member.key != key) continue;
    return PlantNode(member.value, ChildPath(member.key), member.at);
  }
  return std::nullopt;
}

PlantNode PlantNode::At(std::string_view key) const {
  std::optional<PlantNode> member = Find(key);
  if (!member) Fail("missing key \"" + std::string(key) + "\"");
  return *member;
}

void PlantNode::CheckKeys(std::span<const std::string_view> allowed) const {
  RequireObject();
  for (const PlantMember& member : value_->members) {
    bool known = false;
    for (std::string_view name : allowed) known = known || member.key == name;
    if (known) continue;
    std::string list;
    for (std::string_view name : allowed) {
      if (!list.empty()) list += ", ";
      list += name;
    }
    throw PlantValueError(ChildPath(member.key), member.at,
                          "unknown key; expected one of: " + list);
  }
}

size_t PlantNode::MemberCount() const {
  RequireObject();
  return value_->members.size();
}

size_t PlantNode::ElementCount() const {
  if (value_->kind != Kind::kList) Fail("expected a list [...], found " + KindOf(*value_));
  return value_->elements.size();
}

PlantNode PlantNode::Element(size_t index) const {
  return PlantNode(value_->elements.at(index), ChildPath(index));
}

std::vector<PlantNode> PlantNode::Elements() const {
  std::vector<PlantNode> elements;
  const size_t count = ElementCount();
  elements.reserve(count);
  for (size_t i = 0; i < count; ++i) elements.push_back(Element(i));
  return elements;
}

double PlantNode::Number() const {
  if (!IsNumber()) Fail("expected a number, found " + KindOf(*value_));
  return value_->number;
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
  if (!IsNumber()) Fail(range + ", found " + KindOf(*value_));
  const double value = value_->number;
  if (value != std::floor(value) || value < static_cast<double>(min) ||
      value > static_cast<double>(max))
    Fail(range + ", found " + PlantNumberText(value));
  return static_cast<int64_t>(value);
}

bool PlantNode::Boolean() const {
  if (!IsBoolean()) Fail("expected true or false, found " + KindOf(*value_));
  return value_->boolean;
}

std::string PlantNode::String() const {
  if (!IsString()) Fail("expected a text \"...\", found " + KindOf(*value_));
  return value_->text;
}

uint8_t PlantNode::Byte() const {
  const std::string expected =
      "expected a byte: a whole number from 0 to 255, \"0x\" and two hex digits, or one ASCII "
      "character";
  if (IsString()) {
    const std::string& text = value_->text;
    const bool hex = text.size() == 4 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) &&
                     std::isxdigit(static_cast<unsigned char>(text[2])) &&
                     std::isxdigit(static_cast<unsigned char>(text[3]));
    if (hex) return static_cast<uint8_t>(std::stoi(text.substr(2), nullptr, 16));
    if (text.size() != 1 || static_cast<unsigned char>(text[0]) > 0x7F) Fail(expected);
    return static_cast<uint8_t>(text[0]);
  }
  if (!IsNumber()) Fail(expected + ", found " + KindOf(*value_));
  return static_cast<uint8_t>(Integer(0, 255));
}

}  // namespace tarvo::plant
