// A value of a plant document together with its path, and the typed reads
// that a plant reader needs. Every read that finds something other than it
// expects throws PlantValueError naming this value (or, for a missing or
// unknown key, the object and the key) and where it stands in the text.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tools/plant/plant_path.h"
#include "tools/plant/plant_value.h"

namespace tarvo::plant {

// A number as messages show it: 21.5, 7, -127.9375.
std::string PlantNumberText(double value);

class PlantNode {
 public:
  // `value` must outlive the node and every node taken from it. Messages
  // about the node point at `at`, by default where the value starts.
  PlantNode(const PlantValue& value, PlantPath path);
  PlantNode(const PlantValue& value, PlantPath path, TextPosition at);

  const PlantPath& path() const { return path_; }
  TextPosition at() const { return at_; }

  // Throws PlantValueError for this value.
  [[noreturn]] void Fail(const std::string& reason) const;

  bool IsObject() const;
  bool IsNumber() const;
  bool IsString() const;
  bool IsBoolean() const;
  bool IsNull() const;

  // Object members. Each of these first requires an object.
  bool Has(std::string_view key) const;
  // A member's node points at its key.
  std::optional<PlantNode> Find(std::string_view key) const;
  // The member `key`; a missing one is an error ("missing key \"key\"").
  PlantNode At(std::string_view key) const;
  // Every key must be one of `allowed`; the first other key is an error
  // naming it and listing the allowed ones.
  void CheckKeys(std::span<const std::string_view> allowed) const;
  void CheckKeys(std::initializer_list<std::string_view> allowed) const {
    CheckKeys(std::span(allowed.begin(), allowed.size()));
  }
  size_t MemberCount() const;
  // List elements; requires a list.
  std::vector<PlantNode> Elements() const;
  // The same one at a time: a long list's nodes are not all made at once.
  size_t ElementCount() const;
  PlantNode Element(size_t index) const;

  double Number() const;
  // A number from min to max inclusive.
  double Number(double min, double max) const;
  // A whole number from min to max inclusive.
  int64_t Integer(int64_t min, int64_t max) const;
  bool Boolean() const;
  std::string String() const;
  // A byte: a whole number 0..255, a text "0x" and two hex digits, or a
  // text of one ASCII character.
  uint8_t Byte() const;

 private:
  using Kind = PlantValue::Kind;
  void RequireObject() const;
  PlantPath ChildPath(PlantStep step) const;
  const PlantValue* value_;
  PlantPath path_;
  TextPosition at_;
};

}  // namespace tarvo::plant
