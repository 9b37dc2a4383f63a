// What one poll found: one reading per item read or written.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/error_glosses.h"

namespace tarvo::tools {

struct ItemReading {
  std::string item;       // the address as given
  bool write = false;     // a write of `discrete` rather than a read
  bool discrete = false;  // the register's value is DiscreteValue, else AnalogValue
  bool ok = false;
  float analog = 0;            // the value read, when ok and not discrete
  uint32_t discreteValue = 0;  // the value read or written, when discrete
  ExplainedError error;        // "OK" when ok
};

struct PollRecord {
  int number = 0;  // 1, 2, ...
  std::chrono::system_clock::time_point time;
  std::vector<ItemReading> readings;
  // Whether any reading failed.
  bool failed() const {
    for (const ItemReading& r : readings)
      if (!r.ok) return true;
    return false;
  }
};

// The value as the outputs show it: the shortest text that reads back as
// the same float, or 0/1; "-" for a failed read.
std::string FormatValue(const ItemReading& reading);

}  // namespace tarvo::tools
