#include "sim/pxr5760/module.h"

#include <stdexcept>

#include "sim/point_list.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'*', 5}, {'#', 5}, {'/', 9}};

void CheckPoint(int channel, int point) {
  if (channel < 0 || channel >= Pxr5760Module::kChannels)
    throw std::out_of_range("pxr5760 channel outside 0..7");
  if (point < 0 || point >= Pxr5760Module::kPoints)
    throw std::out_of_range("pxr5760 point outside 0..31");
}

// Value of a decimal (base 10) or hex (base 16, either case) digit, or -1.
int Digit(uint8_t c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Pxr5760Module::Pxr5760Module(int address)
    : Module(address), digits_(HexAddress(address, HexCase::kLower)) {}

Frame Pxr5760Module::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, kShapes, digits_);
}

void Pxr5760Module::SetRecord(int channel, int point, const RawRecord& record) {
  SetRecords(channel, point, {record});
}

void Pxr5760Module::SetRecords(int channel, int point, std::vector<RawRecord> records) {
  CheckPoint(channel, point);
  if (records.empty()) throw std::out_of_range("a pxr5760 point needs a record");
  records_[channel][point] = std::move(records);
}

void Pxr5760Module::RemovePoint(int channel, int point) {
  CheckPoint(channel, point);
  records_[channel][point].clear();
}

std::vector<uint8_t> Pxr5760Module::Points(int channel) const {
  CheckPoint(channel, 0);
  std::vector<uint8_t> points;
  for (int p = 0; p < kPoints; ++p)
    if (!records_[channel][p].empty()) points.push_back(static_cast<uint8_t>(p));
  return points;
}

const std::vector<RawRecord>& Pxr5760Module::Records(int channel, int point) const {
  CheckPoint(channel, point);
  return records_[channel][point];
}

Bytes Pxr5760Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t selector = command[3];
  switch (command[0]) {
    case '*': {
      if (selector < '0' || selector >= '0' + kChannels) return {};
      const std::vector<uint8_t> points = Points(selector - '0');
      extraEntries_[selector - '0'] =
          (faults.pointTwice && !points.empty() ? 1 : 0) + (faults.extraPoint ? 1 : 0);
      return PointListAnswer(digits_, selector, points, faults);
    }
    case '#':
      return selector == '8' ? BlockAnswer() : Bytes{};
    default:
      return WriteAnswer(command);
  }
}

Bytes Pxr5760Module::BlockAnswer() {
  Bytes records;
  int count = 0;
  for (int channel = 0; channel < kChannels; ++channel) {
    for (const std::vector<RawRecord>& point : records_[channel]) {
      if (point.empty()) continue;
      const RawRecord& record = point[static_cast<size_t>(blockReads_) % point.size()];
      records.insert(records.end(), record.begin(), record.end());
      ++count;
    }
    records.insert(records.end(), 4 * static_cast<size_t>(extraEntries_[channel]), 0);
    count += extraEntries_[channel];
  }
  ++blockReads_;
  // Reserved first, for GCC 12 at -O3 (see WriteAnswer).
  Bytes answer;
  answer.reserve(records.size() + 5);
  answer.push_back('>');
  answer.insert(answer.end(), digits_.begin(), digits_.end());
  answer.push_back('8');
  answer.push_back(static_cast<uint8_t>(count));
  answer.insert(answer.end(), records.begin(), records.end());
  return answer;
}

Bytes Pxr5760Module::WriteAnswer(std::span<const uint8_t> command) {
  const int channel = Digit(command[3], 10);
  const int tens = Digit(command[4], 10);
  const int ones = Digit(command[5], 10);
  const int high = Digit(command[6], 16);
  const int low = Digit(command[7], 16);
  if (channel < 0 || channel >= kChannels || tens < 0 || ones < 0 || high < 0 || low < 0) return {};
  const int point = tens * 10 + ones;
  if (point >= kPoints || records_[channel][point].empty()) return {};
  for (RawRecord& record : records_[channel][point])
    record[2] = static_cast<uint8_t>(high * 16 + low);
  // Built whole: GCC 12 at -O3 takes an insert into a one-byte vector for
  // an out-of-bounds copy (-Warray-bounds) and fails the release build.
  Bytes answer{'!', static_cast<uint8_t>(digits_[0]), static_cast<uint8_t>(digits_[1]), kCr};
  return answer;
}

}  // namespace tarvo::sim
