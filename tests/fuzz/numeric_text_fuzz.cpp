// The pxr5700 numeric-channel text parser on any bytes of any length. It
// must read nothing beyond the length it is given (the input buffer is
// exactly that long), never produce NaN, and agree with the C library's
// strtod in the "C" locale on every text made of the characters a number
// is written with.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "pxr5700/numeric_text.h"

namespace {

bool NumberCharacters(const std::string& text) {
  return text.find_first_not_of(" \t\n\v\f\r+-.0123456789eE") == std::string::npos;
}

// Close enough for a float: relative 1e-6, or absolute at the bottom of
// the subnormal range, where both sides round from nearly equal doubles.
bool Agree(float parsed, float expected) {
  constexpr float kLargest = std::numeric_limits<float>::max();
  if (std::isinf(parsed) || std::isinf(expected)) {
    // The two round differently in the last half unit below infinity.
    const float finite = std::isinf(parsed) ? expected : parsed;
    const float other = std::isinf(parsed) ? parsed : expected;
    return std::signbit(finite) == std::signbit(other) &&
           std::fabs(finite) >= kLargest * (1.0f - 1e-6f);
  }
  return std::fabs(parsed - expected) <= 1e-6f * std::fabs(expected) + 1e-37f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  const float parsed = tarvo::pxr5700::ParseNumericText(text, size);
  if (std::isnan(parsed)) __builtin_trap();

  // The parser stops at a NUL, as strtod does on the terminated copy.
  const std::string terminated(text, std::find(text, text + size, '\0'));
  if (!NumberCharacters(terminated)) return 0;
  const double reference = std::strtod(terminated.c_str(), nullptr);
  constexpr double kLargest = std::numeric_limits<float>::max();
  const float expected = std::fabs(reference) > kLargest
                             ? std::copysign(std::numeric_limits<float>::infinity(), reference)
                             : static_cast<float>(reference);
  if (!Agree(parsed, expected)) __builtin_trap();
  return 0;
}
