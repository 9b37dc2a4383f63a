#include "pxr530x/command.h"
#include "pxr530x/point_marks.h"

namespace tarvo::pxr530x {

void MarkPoint(ModuleState& state, int channel, int point) {
  const std::span<PointState> points = state.Channel(channel);
  if (point < 0 || static_cast<size_t>(point) >= points.size()) return;
  points[static_cast<size_t>(point)].present = true;
}

int ApplyPointList(ModuleState& state, int channel, std::span<const uint8_t> answer) {
  const int listed = answer[4];
  if (listed != 0 && answer[kPointListStart + static_cast<size_t>(listed)] != kCarriageReturn)
    return -1;
  // The flags equal the latest list: a stale mark would shift the records
  // of every later point of the channel in a block read.
  for (PointState& point : state.Channel(channel)) point.present = false;
  for (size_t i = 0; i < static_cast<size_t>(listed); ++i)
    MarkPoint(state, channel, answer[kPointListStart + i]);
  return listed;
}

}  // namespace tarvo::pxr530x
