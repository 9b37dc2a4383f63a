#include "sim/sensor_module.h"

#include <stdexcept>

namespace tarvo::sim {

SensorModule::SensorModule(int address, const Shape& shape)
    : Module(address),
      shape_(shape),
      digits_(HexAddress(address, shape.letterCase)),
      records_(static_cast<size_t>(shape.channels * shape.points)),
      extraEntries_(static_cast<size_t>(shape.channels), 0) {}

Frame SensorModule::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, shape_.commands, digits_);
}

void SensorModule::CheckChannel(int channel) const {
  if (channel < 0 || channel >= channels()) {
    throw std::out_of_range(std::string(family()) + " channel outside 0.." +
                            std::to_string(channels() - 1));
  }
}

void SensorModule::CheckPoint(int channel, int point) const {
  CheckChannel(channel);
  if (point < 0 || point >= points()) {
    throw std::out_of_range(std::string(family()) + " point outside 0.." +
                            std::to_string(points() - 1));
  }
}

size_t SensorModule::Index(int channel, int point) const {
  CheckPoint(channel, point);
  return static_cast<size_t>(channel * points() + point);
}

void SensorModule::SetRecord(int channel, int point, const RawRecord& record) {
  SetRecords(channel, point, {record});
}

void SensorModule::SetRecords(int channel, int point, std::vector<RawRecord> records) {
  const size_t index = Index(channel, point);
  if (records.empty())
    throw std::out_of_range("a " + std::string(family()) + " point needs a record");
  records_[index] = std::move(records);
}

void SensorModule::RemovePoint(int channel, int point) { records_[Index(channel, point)].clear(); }

std::vector<uint8_t> SensorModule::Points(int channel) const {
  CheckChannel(channel);
  std::vector<uint8_t> present;
  for (int p = 0; p < points(); ++p)
    if (!records_[Index(channel, p)].empty()) present.push_back(static_cast<uint8_t>(p));
  return present;
}

std::optional<RawRecord> SensorModule::Record(int channel, int point) const {
  const std::vector<RawRecord>& records = Records(channel, point);
  if (records.empty()) return std::nullopt;
  return records.front();
}

const std::vector<RawRecord>& SensorModule::Records(int channel, int point) const {
  return records_[Index(channel, point)];
}

int SensorModule::ChannelOf(uint8_t digit) const {
  if (digit < '0' || digit >= '0' + channels()) return -1;
  return digit - '0';
}

RawRecord SensorModule::Sent(int /*channel*/, int /*point*/, RawRecord record) const {
  return record;
}

Bytes SensorModule::PointListAnswer(uint8_t channelDigit, const Faults& faults) {
  const int channel = ChannelOf(channelDigit);
  if (channel < 0) return {};
  Bytes listed = Points(channel);
  const size_t present = listed.size();
  if (faults.pointTwice && !listed.empty()) listed.push_back(listed.front());
  if (faults.extraPoint) listed.push_back(*faults.extraPoint);
  extraEntries_[static_cast<size_t>(channel)] = static_cast<int>(listed.size() - present);
  // Reserved first: GCC 12 at -O3 takes an insert into a one-byte vector
  // for an out-of-bounds copy (-Warray-bounds) and fails the release build.
  Bytes answer;
  answer.reserve(digits_.size() + listed.size() + 4);
  answer.push_back('>');
  answer.insert(answer.end(), digits_.begin(), digits_.end());
  answer.push_back(channelDigit);
  // N is one byte on the wire; a list longer than 255 cannot be expressed.
  answer.push_back(static_cast<uint8_t>(listed.size()));
  answer.insert(answer.end(), listed.begin(), listed.end());
  answer.push_back(kCr);
  return answer;
}

Bytes SensorModule::BlockAnswer(uint8_t filler, int first, int last) {
  Bytes records;
  for (int c = first; c <= last; ++c) {
    for (uint8_t p : Points(c)) {
      const std::vector<RawRecord>& turns = Records(c, p);
      const RawRecord record = Sent(c, p, turns[static_cast<size_t>(blockReads_) % turns.size()]);
      records.insert(records.end(), record.begin(), record.end());
    }
    if (shape_.recordPerListedEntry)
      records.insert(records.end(), 4 * static_cast<size_t>(extraEntries_[static_cast<size_t>(c)]),
                     0);
  }
  ++blockReads_;
  Bytes answer;  // reserved first, as in PointListAnswer
  answer.reserve(records.size() + digits_.size() + 3);
  answer.push_back('>');
  answer.insert(answer.end(), digits_.begin(), digits_.end());
  answer.push_back(filler);
  answer.push_back(static_cast<uint8_t>(records.size() / 4));
  answer.insert(answer.end(), records.begin(), records.end());
  return answer;
}

}  // namespace tarvo::sim
