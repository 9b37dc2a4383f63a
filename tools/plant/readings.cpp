#include "tools/plant/readings.h"

#include <fmt/format.h>

#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

std::string FamilyOf(const ItemReading& reading) {
  const DriverClass* c = FindDriverClass(reading.className);
  return c != nullptr ? std::string(c->family) : reading.className;
}

std::string FormatValue(const ItemReading& reading) {
  if (!reading.hasValue && !reading.write) return "-";
  if (reading.discrete) return std::to_string(reading.discreteValue);
  return fmt::format("{}", reading.analog);
}

std::string FormatAge(const ItemReading& reading, std::chrono::system_clock::time_point pollTime) {
  if (!reading.readAt) return "";
  const std::chrono::duration<double> age = pollTime - *reading.readAt;
  return fmt::format("{:.1f}", age.count() < 0 ? 0.0 : age.count());
}

}  // namespace tarvo::tools
