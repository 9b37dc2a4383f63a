#include "sim/pxr530x/module_530x.h"

#include <stdexcept>

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
    : SensorModule(address,
                   {"pxr530x", CheckedChannels(channels), kPoints, HexCase::kUpper, kShapes}) {}

Bytes Pxr530xModule::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t last = command[3];
  if (command[0] == '*') return PointListAnswer(last, faults);
  return last == '8' ? BlockAnswer(last, 0, channels() - 1) : Bytes{};
}

}  // namespace tarvo::sim
