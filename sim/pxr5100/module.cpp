#include "sim/pxr5100/module.h"

#include <stdexcept>

#include "sim/point_list.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'*', 5}, {'#', 5}};

void CheckChannel(int channel) {
  if (channel < 0 || channel >= Pxr5100Module::kChannels) {
    throw std::out_of_range("pxr5100 channel outside 0..7");
  }
}

void CheckPoint(int channel, int point) {
  CheckChannel(channel);
  if (point < 0 || point >= Pxr5100Module::kPoints) {
    throw std::out_of_range("pxr5100 point outside 0..63");
  }
}

}  // namespace

Pxr5100Module::Pxr5100Module(int address)
    : Module(address), digits_(HexAddress(address, HexCase::kLower)) {}

Frame Pxr5100Module::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, kShapes, digits_);
}

void Pxr5100Module::SetRecord(int channel, int point, const RawRecord& record) {
  CheckPoint(channel, point);
  records_[channel][point] = record;
}

void Pxr5100Module::SetValues(int channel, int point, const Pxr5100Values& values) {
  SetRecord(channel, point, EncodePxr5100(values));
}

void Pxr5100Module::RemovePoint(int channel, int point) {
  CheckPoint(channel, point);
  records_[channel][point].reset();
}

std::vector<uint8_t> Pxr5100Module::Points(int channel) const {
  CheckChannel(channel);
  std::vector<uint8_t> points;
  for (int p = 0; p < kPoints; ++p) {
    if (records_[channel][p]) points.push_back(static_cast<uint8_t>(p));
  }
  return points;
}

std::optional<RawRecord> Pxr5100Module::Record(int channel, int point) const {
  CheckPoint(channel, point);
  return records_[channel][point];
}

Bytes Pxr5100Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t channelDigit = command[3];
  if (channelDigit < '0' || channelDigit >= '0' + kChannels) return {};
  const int channel = channelDigit - '0';
  const std::vector<uint8_t> points = Points(channel);
  if (command[0] == '*') return PointListAnswer(digits_, channelDigit, points, faults);

  Bytes answer{'>'};
  answer.insert(answer.end(), digits_.begin(), digits_.end());
  answer.push_back(channelDigit);
  answer.push_back(static_cast<uint8_t>(points.size()));
  for (uint8_t point : points) {
    const RawRecord& record = *records_[channel][point];
    answer.insert(answer.end(), record.begin(), record.end());
  }
  return answer;
}

}  // namespace tarvo::sim
