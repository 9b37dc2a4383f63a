#include "serial/timeout_text.h"

namespace tarvo::serial {
namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

int32_t TransferTimeout(const char* text, size_t size) {
  if (text == nullptr) return kDefaultTimeoutMs;
  size_t at = 0;
  while (at < size && IsBlank(text[at])) ++at;
  bool negative = false;
  if (at < size && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t value = 0;
  // Saturates well above the range: a long run of digits is out of range,
  // not an overflow.
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at)
    if (value <= kMaxTimeoutMs) value = value * 10 + (text[at] - '0');
  if (negative) value = -value;
  return value >= kMinTimeoutMs && value <= kMaxTimeoutMs ? static_cast<int32_t>(value)
                                                          : kDefaultTimeoutMs;
}

}  // namespace tarvo::serial
