#include "pxr530x/point_marks.h"

namespace tarvo::pxr530x {

void DistributeRecords(ModuleState& state, std::span<const uint8_t> answer) {
  size_t channelStart = kFirstRecord;
  for (int channel = 0; channel < state.channels(); ++channel) {
    const auto count = static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]);
    size_t position = channelStart;
    size_t taken = 0;
    for (PointState& point : state.Channel(channel)) {
      if (!point.present) continue;
      if (taken == count) break;
      for (size_t i = 0; i < kRecordBytes; ++i) {
        const size_t at = position + i;
        point.record[i] = at < answer.size() ? answer[at] : 0;
      }
      point.fresh.set();
      position += kRecordBytes;
      ++taken;
    }
    channelStart += count * kRecordBytes;
  }
}

}  // namespace tarvo::pxr530x
