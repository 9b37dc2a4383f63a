// What one poll found: one reading per item read or written.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tarvo/errors.h"
#include "tools/common/error_glosses.h"

namespace tarvo::tools {

// A read refused with ErrDelayNotElapsed found its module's refresh gate
// shut: the item waits, it has not failed.
struct ItemReading {
  std::string className;  // "Cpxr5100"
  std::string item;       // the address as given
  std::string name;       // what people call it; may be empty
  std::string unit;       // may be empty
  bool write = false;     // a write of `discrete` rather than a read
  bool discrete = false;  // the register's value is DiscreteValue, else AnalogValue
  bool ok = false;
  // Not refreshed in this poll: its module's gate stayed shut (code 23).
  // The value fields then hold the last value read, if hasValue.
  bool waiting = false;
  bool hasValue = false;       // ok, or waiting with an earlier value
  float analog = 0;            // the value read, when hasValue and not discrete
  uint32_t discreteValue = 0;  // the value read or written, when discrete
  ExplainedError error;        // "OK" when ok
  // When the call that read or wrote the value ended (for a waiting item,
  // the earlier read); unset before any value.
  std::optional<std::chrono::system_clock::time_point> readAt;

  // A failure that counts: not ok and not waiting for the gate.
  bool failed() const { return !ok && !waiting; }
};

struct PollRecord {
  int number = 0;  // 1, 2, ...
  // When the poll ended: the ages of the readings count from here.
  std::chrono::system_clock::time_point time;
  std::vector<ItemReading> readings;
  // When the poll began.
  std::chrono::system_clock::time_point started;
  // Whether any reading failed (waiting for a gate is no failure), kept
  // or not.
  bool failed = false;
};

// The family of the item's class ("pxr5100"), as the tools name classes
// in their messages.
std::string FamilyOf(const ItemReading& reading);
// The value as the outputs show it: the shortest text that reads back as
// the same float, or 0/1; "-" for a read without a value.
std::string FormatValue(const ItemReading& reading);
// Seconds from the reading to the poll's time with one decimal ("2.0"), or
// "" without a reading time.
std::string FormatAge(const ItemReading& reading, std::chrono::system_clock::time_point pollTime);

}  // namespace tarvo::tools
