// A value of a plant description together with its path, and the typed
// reads that a plant reader needs. Every read that finds something other
// than it expects throws PlantValueError naming this value (or, for a
// missing or unknown key, the object and the key).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "nlohmann/json_fwd.hpp"
#include "sim/plant/json_locator.h"

namespace tarvo::sim {

// A number as messages show it: 21.5, 7, -127.9375.
std::string PlantNumberText(double value);

class PlantNode {
 public:
  // `value` must outlive the node and every node taken from it.
  PlantNode(const nlohmann::ordered_json& value, JsonPath path);

  const nlohmann::ordered_json& json() const { return *value_; }
  const JsonPath& path() const { return path_; }

  // Throws PlantValueError for this value.
  [[noreturn]] void Fail(const std::string& reason) const;

  bool IsObject() const;
  bool IsNumber() const;
  bool IsString() const;

  // Object members. Each of these first requires an object.
  bool Has(std::string_view key) const;
  std::optional<PlantNode> Find(std::string_view key) const;
  // The member `key`; a missing one is an error ("missing key \"key\"").
  PlantNode At(std::string_view key) const;
  // Every key must be one of `allowed`; the first other key is an error
  // naming it and listing the allowed ones.
  void CheckKeys(std::span<const std::string_view> allowed) const;
  void CheckKeys(std::initializer_list<std::string_view> allowed) const {
    CheckKeys(std::span(allowed.begin(), allowed.size()));
  }
  // Array elements; requires an array.
  std::vector<PlantNode> Elements() const;

  double Number() const;
  // A number from min to max inclusive.
  double Number(double min, double max) const;
  // A whole number from min to max inclusive.
  int64_t Integer(int64_t min, int64_t max) const;
  bool Boolean() const;
  std::string String() const;
  // A byte: a whole number 0..255 or a text of one ASCII character.
  uint8_t Byte() const;

 private:
  void RequireObject() const;
  const nlohmann::ordered_json* value_;
  JsonPath path_;
};

}  // namespace tarvo::sim
