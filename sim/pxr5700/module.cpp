#include "sim/pxr5700/module.h"

#include <stdexcept>

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'#', 5}, {'/', 5}};

size_t ChannelIndex(int channel) {
  if (channel < 1 || channel > 2) throw std::out_of_range("pxr5700 channel outside 1..2");
  return static_cast<size_t>(channel - 1);
}

}  // namespace

Pxr5700Module::Pxr5700Module(int address)
    : Module(address), digits_(HexAddress(address, HexCase::kUpper)) {}

Frame Pxr5700Module::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, kShapes, digits_);
}

void Pxr5700Module::SetTemperatureRecord(int channel, const RawRecord& record) {
  temperatures_[ChannelIndex(channel)] = record;
}

void Pxr5700Module::SetNumericText(int channel, std::string_view text) {
  const size_t index = ChannelIndex(channel);
  if (text.size() != kTextLength)
    throw std::invalid_argument("pxr5700 numeric text must have 5 characters");
  numerics_[index] = std::string(text);
}

Bytes Pxr5700Module::Answer(std::span<const uint8_t> command, const Faults& /*faults*/,
                            int64_t /*nowMs*/) {
  const uint8_t payload = command[3];
  Bytes answer{command[0] == '/' ? uint8_t{'!'} : uint8_t{'>'}};
  answer.insert(answer.end(), digits_.begin(), digits_.end());
  if (command[0] == '/') {
    outputs_ = payload;
    answer.push_back(echoOverride_.value_or(payload));
  } else {
    switch (payload) {
      case '0':
        answer.push_back(inputs_);
        break;
      case '1':
        answer.push_back(outputs_);
        break;
      case '2':
        answer.insert(answer.end(), {'2', ','});
        answer.insert(answer.end(), numerics_[0].begin(), numerics_[0].end());
        answer.push_back(',');
        answer.insert(answer.end(), numerics_[1].begin(), numerics_[1].end());
        break;
      case '3':
        answer.insert(answer.end(), {'3', ','});
        for (const RawRecord& record : temperatures_)
          answer.insert(answer.end(), record.begin(), record.end());
        break;
      default:
        return {};
    }
  }
  answer.push_back(kCr);
  return answer;
}

}  // namespace tarvo::sim
