// What the sensor-module driver knows about each module of one class: the
// record count each channel contributes to a block answer, the points its
// scan found, the latest record of every point with the register kinds
// still to be delivered from it, the outlier filters and the refresh gate.
// Each class owns one set per process, shared by all its objects and reset
// by each constructor; a module's state is allocated when first used.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "pxr530x/class_traits.h"
#include "sensors/outlier_filter.h"

namespace tarvo::pxr530x {

struct PointState {
  bool present = false;
  std::array<uint8_t, 4> record{};
  std::bitset<kRegisterKinds> fresh;  // bit k-1 for register index k
  std::array<sensors::OutlierFilter, kRegisterKinds> filters{};
};

struct ModuleState {
  ModuleState(int channels, int points, int64_t now);

  // The points of one channel (0..channels-1), by point number.
  std::span<PointState> Channel(int channel);
  PointState& Point(int channel, int point) { return Channel(channel)[static_cast<size_t>(point)]; }
  int channels() const { return static_cast<int>(sensorCount.size()); }
  // The records of a whole block answer: the sum of sensorCount.
  size_t BlockRecords() const;

  bool scanned = false;
  bool refreshDue = false;
  int64_t lastRefresh;  // whole seconds of the monotonic clock
  // Records each channel contributes to a block answer (0..255).
  std::vector<int32_t> sensorCount;

 private:
  int points_;
  std::vector<PointState> slots_;  // channel * points + point
};

class Tables {
 public:
  Tables(int channels, int points) : channels_(channels), points_(points) {}

  // Forgets every module; modules met from now on start with their gate
  // last opened at now (whole seconds).
  void Reset(int64_t now);
  // The state of module (0..127), allocated on first use.
  ModuleState& Module(int module);

 private:
  int channels_;
  int points_;
  int64_t resetAt_ = 0;
  std::array<std::unique_ptr<ModuleState>, kModules> modules_;
};

}  // namespace tarvo::pxr530x
