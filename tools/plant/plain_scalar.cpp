#include "tools/plant/plain_scalar.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace tarvo::plant {
namespace {

bool OneOf(std::string_view text, std::initializer_list<std::string_view> spellings) {
  for (std::string_view spelling : spellings)
    if (text == spelling) return true;
  return false;
}

size_t SkipDigits(std::string_view text, size_t i) {
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  return i;
}

// [-+]?(\.[0-9]+|[0-9]+(\.[0-9]*)?)([eE][-+]?[0-9]+)?
bool IsDecimal(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const size_t whole = i;
  i = SkipDigits(text, i);
  bool digits = i > whole;
  if (i < text.size() && text[i] == '.') {
    const size_t fraction = ++i;
    i = SkipDigits(text, i);
    digits = digits || i > fraction;
  }
  if (!digits) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    const size_t exponent = i;
    i = SkipDigits(text, i);
    if (i == exponent) return false;
  }
  return i == text.size();
}

PlainScalar Number(double value) { return {PlainScalar::Kind::kNumber, false, value}; }

// 0x... or 0o...: digits of `base` after the two-character prefix.
PlainScalar Based(std::string_view digits, int base) {
  uint64_t value = 0;
  const auto [end, status] =
      std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
  if (digits.empty() || end != digits.data() + digits.size()) return {};
  if (status == std::errc::result_out_of_range)
    return Number(std::numeric_limits<double>::infinity());
  return Number(static_cast<double>(value));
}

}  // namespace

PlainScalar ReadPlainScalar(std::string_view text) {
  if (OneOf(text, {"true", "True", "TRUE"})) return {PlainScalar::Kind::kBoolean, true, 0};
  if (OneOf(text, {"false", "False", "FALSE"})) return {PlainScalar::Kind::kBoolean, false, 0};
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  if (OneOf(text, {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"})) return Number(kInfinity);
  if (OneOf(text, {"-.inf", "-.Inf", "-.INF"})) return Number(-kInfinity);
  if (OneOf(text, {".nan", ".NaN", ".NAN"}))
    return Number(std::numeric_limits<double>::quiet_NaN());
  if (text.starts_with("0x")) return Based(text.substr(2), 16);
  if (text.starts_with("0o")) return Based(text.substr(2), 8);
  if (!IsDecimal(text)) return {};
  // from_chars takes no '+'.
  const std::string_view digits = text.front() == '+' ? text.substr(1) : text;
  double value = 0;
  const auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (status == std::errc::result_out_of_range)
    return Number(digits.front() == '-' ? -kInfinity : kInfinity);
  if (status != std::errc() || end != digits.data() + digits.size()) return {};
  return Number(value);
}

}  // namespace tarvo::plant
