#include "pxr530x/tables.h"

#include <algorithm>

namespace tarvo::pxr530x {

ModuleState::ModuleState(int channels, int points, int64_t now)
    : lastRefresh(now),
      sensorCount(static_cast<size_t>(channels), 0),
      points_(points),
      slots_(static_cast<size_t>(channels) * static_cast<size_t>(points)) {}

std::span<PointState> ModuleState::Channel(int channel) {
  const auto width = static_cast<size_t>(points_);
  return std::span<PointState>(slots_).subspan(static_cast<size_t>(channel) * width, width);
}

size_t ModuleState::BlockRecords() const {
  size_t records = 0;
  for (const int32_t count : sensorCount) records += static_cast<size_t>(std::max(count, 0));
  return records;
}

void Tables::Reset(int64_t now) {
  resetAt_ = now;
  for (auto& module : modules_) module.reset();
}

ModuleState& Tables::Module(int module) {
  auto& state = modules_[static_cast<size_t>(module)];
  if (!state) state = std::make_unique<ModuleState>(channels_, points_, resetAt_);
  return *state;
}

}  // namespace tarvo::pxr530x
