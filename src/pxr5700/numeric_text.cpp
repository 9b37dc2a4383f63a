#include "pxr5700/numeric_text.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace tarvo::pxr5700 {
namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Far beyond both ends of the double range: scaling stops there.
constexpr int64_t kScaleLimit = 400;
// A written exponent saturates here: far beyond the shift the digits of any
// text that fits in memory can add (one per digit), so that the sum of the
// two still has the right sign and size.
constexpr int64_t kExponentLimit = 1'000'000'000'000'000;
constexpr uint64_t kMantissaLimit = 1'000'000'000'000'000'000u;

}  // namespace

float ParseNumericText(const char* text, size_t length) {
  size_t at = 0;
  const auto peek = [&]() { return at < length ? text[at] : '\0'; };

  while (IsBlank(peek())) ++at;
  bool negative = false;
  if (peek() == '+' || peek() == '-') negative = text[at++] == '-';

  // Digits beyond what a 64-bit integer holds only shift the decimal point.
  uint64_t mantissa = 0;
  int64_t exponent = 0;
  bool digits = false;
  const auto take = [&](bool fraction) {
    const auto digit = static_cast<uint64_t>(text[at++] - '0');
    digits = true;
    if (mantissa < kMantissaLimit) {
      mantissa = mantissa * 10 + digit;
      if (fraction) --exponent;
    } else if (!fraction) {
      ++exponent;
    }
  };
  while (IsDigit(peek())) take(false);
  if (peek() == '.') {
    ++at;
    while (IsDigit(peek())) take(true);
  }
  if (!digits) return 0.0f;

  if (peek() == 'e' || peek() == 'E') {
    size_t next = at + 1;
    const auto charAt = [&](size_t i) { return i < length ? text[i] : '\0'; };
    bool negativeExponent = false;
    if (charAt(next) == '+' || charAt(next) == '-') negativeExponent = text[next++] == '-';
    // An "e" without digits is not part of the number.
    if (IsDigit(charAt(next))) {
      int64_t written = 0;
      while (IsDigit(charAt(next))) {
        if (written < kExponentLimit) written = written * 10 + (text[next] - '0');
        ++next;
      }
      exponent += negativeExponent ? -written : written;
    }
  }

  if (mantissa == 0) return negative ? -0.0f : 0.0f;
  // Powers of ten up to 1e22 are exact, so texts without a large exponent
  // come out correctly rounded.
  double scale = 1.0;
  for (int64_t i = 0; i < std::abs(exponent) && i < kScaleLimit; ++i) scale *= 10.0;
  double value = static_cast<double>(mantissa);
  value = exponent < 0 ? value / scale : value * scale;
  if (negative) value = -value;

  // Out of range the conversion to float is undefined; the module said a
  // number that large, so it is an infinity.
  constexpr double kLargest = std::numeric_limits<float>::max();
  if (value > kLargest) return std::numeric_limits<float>::infinity();
  if (value < -kLargest) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

}  // namespace tarvo::pxr5700
