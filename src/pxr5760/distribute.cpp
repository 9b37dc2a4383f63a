#include "pxr5760/distribute.h"

#include <cstring>

#include "pxr5760/wire.h"

namespace tarvo::pxr5760 {

void Distribute(ModuleState& state, const uint8_t* answer) {
  size_t channelStart = kFirstRecord;
  for (size_t channel = 0; channel < kChannels; ++channel) {
    // sensorCount never exceeds kPoints (the scan counts present points), so
    // with the assertion in wire.h every record lies inside the buffer.
    size_t position = channelStart;
    const auto& present = state.present[channel];
    auto& points = state.points[channel];
    for (size_t p = 0; p < kPoints; ++p) {
      if (!present.test(p)) continue;
      PointState& point = points[p];
      std::memcpy(point.record.data(), answer + position, kRecordSize);
      position += kRecordSize;
      const int sub = point.record[kRecordOutputByte] >> kRecordSubChannelShift;
      point.fresh.set(kFreshTa);
      point.fresh.set(kFreshHb);
      point.fresh.set(kFreshKt);
      point.fresh.set(static_cast<size_t>(kFreshAd + sub));
      point.fresh.set(static_cast<size_t>(kFreshLt + sub));
      for (size_t bit = 0; bit < kSubChannels; ++bit) point.fresh.set(kFreshBit + bit);
    }
    channelStart += kRecordSize * static_cast<size_t>(state.sensorCount[channel]);
  }
}

}  // namespace tarvo::pxr5760
