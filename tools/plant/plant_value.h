// A value of a plant document as its text gives it: what it is, where it
// starts, and its parts. An object keeps its members in the order of the
// text, each with the place of its key.
#pragma once

#include <string>
#include <vector>

#include "tools/plant/plant_path.h"

namespace tarvo::plant {

struct PlantMember;

struct PlantValue {
  enum class Kind { kNull, kBoolean, kNumber, kText, kList, kObject };

  Kind kind = Kind::kNull;
  TextPosition at{};  // of its first character
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<PlantValue> elements;  // of a list
  std::vector<PlantMember> members;  // of an object; no key twice

  // A value of a kind at a place, its parts empty. (The members' type is
  // incomplete here, so the parts take no initialisers of their own.)
  static PlantValue Of(Kind kind, TextPosition at = {});
};

struct PlantMember {
  std::string key;
  TextPosition at;  // of the key
  PlantValue value;
};

inline PlantValue PlantValue::Of(Kind kind, TextPosition at) {
  PlantValue value;
  value.kind = kind;
  value.at = at;
  return value;
}

}  // namespace tarvo::plant
