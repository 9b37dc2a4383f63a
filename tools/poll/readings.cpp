#include "tools/poll/readings.h"

#include <fmt/format.h>

namespace tarvo::tools {

std::string FormatValue(const ItemReading& reading) {
  if (!reading.ok && !reading.write) return "-";
  if (reading.discrete) return std::to_string(reading.discreteValue);
  return fmt::format("{}", reading.analog);
}

}  // namespace tarvo::tools
