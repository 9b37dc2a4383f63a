#include "sim/pxr530x/module_530x.h"

#include <stdexcept>

#include "sim/point_list.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'*', 5}, {'#', 5}};

int CheckedChannels(int channels) {
  if (channels < 1 || channels > Pxr530xModule::kChannels) {
    throw std::out_of_range("pxr530x modules have 1..8 channels");
  }
  return channels;
}

}  // namespace

Pxr530xModule::Pxr530xModule(int address, int channels)
    : SensorModule(address, CheckedChannels(channels), kPoints) {}

Frame Pxr530xModule::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, kShapes, digits());
}

Bytes Pxr530xModule::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t last = command[3];
  if (command[0] == '*') {
    const int channel = ChannelOf(last);
    if (channel < 0) return {};
    return PointListAnswer(digits(), last, Points(channel), faults);
  }
  if (last != '8') return {};
  Bytes records;
  for (int c = 0; c < channels(); ++c) {
    for (uint8_t point : Points(c)) {
      const RawRecord record = *Record(c, point);
      records.insert(records.end(), record.begin(), record.end());
    }
  }
  Bytes answer{'>'};
  answer.insert(answer.end(), digits().begin(), digits().end());
  answer.push_back(last);
  answer.push_back(static_cast<uint8_t>(records.size() / 4));
  answer.insert(answer.end(), records.begin(), records.end());
  return answer;
}

}  // namespace tarvo::sim
