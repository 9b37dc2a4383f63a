// What an unquoted scalar of a plant document stands for, read as YAML's
// core schema reads it: true/false (also True, TRUE, ...), a number in
// decimal, 0x hex or 0o octal, .inf or .nan, or else a text. Quoted
// scalars are always texts, and the parser reports null itself.
#pragma once

#include <string_view>

namespace tarvo::plant {

struct PlainScalar {
  enum class Kind { kText, kBoolean, kNumber };
  Kind kind = Kind::kText;
  bool boolean = false;
  double number = 0;  // may be infinite or NaN: the caller decides
};

PlainScalar ReadPlainScalar(std::string_view text);

}  // namespace tarvo::plant
