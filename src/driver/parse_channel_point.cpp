#include "driver/parse_channel_point.h"

#include <cstring>

namespace tarvo {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

uint16_t ParseDigitRun(const char* text, const char** end) {
  uint32_t value = 0;
  while (IsDigit(*text)) {
    value = (value * 10 + static_cast<uint32_t>(*text - '0')) & 0xFFFFu;
    ++text;
  }
  if (end != nullptr) *end = text;
  return static_cast<uint16_t>(value);
}

bool ParseChannelPoint(const char* text, int16_t* first, int16_t* second) {
  const char* firstPoint = std::strchr(text, '.');
  if (firstPoint == nullptr || firstPoint[1] == '\0') return false;
  const char* secondPoint = std::strchr(firstPoint + 1, '.');
  if (secondPoint == nullptr) return false;
  *first = static_cast<int16_t>(ParseDigitRun(firstPoint + 1));
  *second = static_cast<int16_t>(ParseDigitRun(secondPoint + 1));
  return true;
}

}  // namespace tarvo
