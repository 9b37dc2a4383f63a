#include "driver/parse_point_address3.h"

#include <cstring>

#include "driver/parse_channel_point.h"

namespace tarvo {

bool ParsePointAddress3(const char* text, int16_t* first, int16_t* second, int16_t* third) {
  const char* firstPoint = std::strchr(text, '.');
  if (firstPoint == nullptr) return false;
  const char* secondPoint = std::strchr(firstPoint + 1, '.');
  if (secondPoint == nullptr) return false;
  const char* thirdPoint = std::strchr(secondPoint + 1, '.');
  if (thirdPoint == nullptr) return false;
  *first = static_cast<int16_t>(ParseDigitRun(firstPoint + 1));
  *second = static_cast<int16_t>(ParseDigitRun(secondPoint + 1));
  *third = static_cast<int16_t>(ParseDigitRun(thirdPoint + 1));
  return true;
}

}  // namespace tarvo
