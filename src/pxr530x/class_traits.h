// What distinguishes the two sensor-module classes that share one driver
// (sensor_module_driver.h): their dimensions, how a module is scanned, what
// paces the block reads, and how each register kind converts a point's
// 4-byte record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarvo::pxr530x {

inline constexpr int kModules = 128;
inline constexpr int kRegisterKinds = 4;  // TA, TB, WA, WB

// How a module's sensor points are learned.
enum class ScanKind {
  // "$" AA "6" gives the channels' record counts, "*" AA "0" lists the
  // points of channel 0, and the records of a "#" AA "8" answer name the
  // points of channels 1 and 2 in their first byte.
  kSummary,
  // "*" AA c lists the points of channel c, for every channel in turn.
  kPerChannel,
};

// What must happen before a block read.
enum class Pacing {
  kRefreshGate,  // at most one block read per module every 2 whole seconds
  kFixedWait,    // a 10000 ms wait before every block read
};

struct RegisterKind {
  // Converts the 4 record bytes; false rejects the record (sensors/conversions.h).
  bool (*convert)(const uint8_t* raw, float* out);
  int32_t threshold;  // of the kind's outlier filter
};

struct ClassTraits {
  int channels;
  int points;              // per channel
  size_t scanBufferBytes;  // receive buffer of the scan's answers
  ScanKind scan;
  Pacing pacing;
  // Indexed by register index - 1: TA, TB, WA, WB.
  std::array<RegisterKind, kRegisterKinds> kinds;
};

}  // namespace tarvo::pxr530x
