// What the pxr5100 driver knows about each module: the points its scan
// reported, the last record of every point, which register kinds of a
// record are still to be delivered, the outlier filters and the refresh
// gate. One set per process, shared by every Cpxr5100 object and reset by
// each constructor. A module's state is allocated when it is first used.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

#include "sensors/outlier_filter.h"

namespace tarvo::pxr5100 {

inline constexpr int kModules = 128;
inline constexpr int kChannels = 8;
inline constexpr int kPoints = 64;
inline constexpr int kKinds = 7;  // TA, TB, WA, WB, UA, UB, WM

struct PointState {
  std::array<uint8_t, 4> record{};
  std::bitset<kKinds> fresh;  // bit k-1 for register index k
  std::array<sensors::OutlierFilter, kKinds> filters{};
};

struct ModuleState {
  explicit ModuleState(int64_t now) : lastRefresh(now) {}
  bool scanned = false;
  bool refreshDue = false;
  int64_t lastRefresh;  // whole seconds of the monotonic clock
  std::array<std::bitset<kPoints>, kChannels> present{};
  std::array<std::array<PointState, kPoints>, kChannels> points{};
};

class Tables {
 public:
  // Forgets every module; modules met from now on start with their gate
  // last opened at now (whole seconds).
  void Reset(int64_t now);
  // The state of module (0..127), allocated on first use.
  ModuleState& Module(int module);

 private:
  int64_t resetAt_ = 0;
  std::array<std::unique_ptr<ModuleState>, kModules> modules_;
};

// The process-wide tables of the class.
Tables& SharedTables();

}  // namespace tarvo::pxr5100
