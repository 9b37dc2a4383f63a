#include "sim/pxr530x/sensor_module.h"

#include <stdexcept>

namespace tarvo::sim {

SensorModule::SensorModule(int address, int channels, int points)
    : Module(address),
      channels_(channels),
      points_(points),
      digits_(HexAddress(address, HexCase::kUpper)),
      records_(static_cast<size_t>(channels * points)) {}

void SensorModule::CheckChannel(int channel) const {
  if (channel < 0 || channel >= channels_) {
    throw std::out_of_range(std::string(family()) + " channel outside 0.." +
                            std::to_string(channels_ - 1));
  }
}

void SensorModule::CheckPoint(int channel, int point) const {
  CheckChannel(channel);
  if (point < 0 || point >= points_) {
    throw std::out_of_range(std::string(family()) + " point outside 0.." +
                            std::to_string(points_ - 1));
  }
}

void SensorModule::SetRecord(int channel, int point, const RawRecord& record) {
  CheckPoint(channel, point);
  records_[static_cast<size_t>(channel * points_ + point)] = record;
}

void SensorModule::RemovePoint(int channel, int point) {
  CheckPoint(channel, point);
  records_[static_cast<size_t>(channel * points_ + point)].reset();
}

std::vector<uint8_t> SensorModule::Points(int channel) const {
  CheckChannel(channel);
  std::vector<uint8_t> present;
  for (int p = 0; p < points_; ++p) {
    if (records_[static_cast<size_t>(channel * points_ + p)]) {
      present.push_back(static_cast<uint8_t>(p));
    }
  }
  return present;
}

std::optional<RawRecord> SensorModule::Record(int channel, int point) const {
  CheckPoint(channel, point);
  return records_[static_cast<size_t>(channel * points_ + point)];
}

int SensorModule::ChannelOf(uint8_t digit) const {
  if (digit < '0' || digit >= '0' + channels_) return -1;
  return digit - '0';
}

}  // namespace tarvo::sim
