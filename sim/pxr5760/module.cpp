#include "sim/pxr5760/module.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'*', 5}, {'#', 5}, {'/', 9}};

constexpr RecordField kFields[] = {
    {"TA", 2, 3, &PutTempSignMagnitude, kTempSignMagnitudeRange},
    {"HB", 1, 1, [](RawRecord& r, double v) { PutSignedHalves(r, 1, v); }, kSignedHalvesRange},
    {"KT", 1, 2, &PutQuarters, kQuartersRange},
    {"inputs", 1, 1, [](RawRecord& r, double v) { PutByte(r, 1, v); }, kByteRange},
    {"outputs", 2, 2, [](RawRecord& r, double v) { PutByte(r, 2, v); }, kByteRange},
};

// Value of a decimal (base 10) or hex (base 16, either case) digit, or -1.
int Digit(uint8_t c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

const RecordLayout kPxr5760Record = {"pxr5760", kFields};

Pxr5760Module::Pxr5760Module(int address)
    : SensorModule(address, {.family = "pxr5760",
                             .channels = kChannels,
                             .points = kPoints,
                             .letterCase = HexCase::kLower,
                             .commands = kShapes,
                             .recordPerListedEntry = true}) {}

Bytes Pxr5760Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t selector = command[3];
  switch (command[0]) {
    case '*':
      return PointListAnswer(selector, faults);
    case '#':
      return selector == '8' ? BlockAnswer(selector, 0, kChannels - 1) : Bytes{};
    default:
      return WriteAnswer(command);
  }
}

Bytes Pxr5760Module::WriteAnswer(std::span<const uint8_t> command) {
  const int channel = Digit(command[3], 10);
  const int tens = Digit(command[4], 10);
  const int ones = Digit(command[5], 10);
  const int high = Digit(command[6], 16);
  const int low = Digit(command[7], 16);
  if (channel < 0 || channel >= kChannels || tens < 0 || ones < 0 || high < 0 || low < 0) return {};
  const int point = tens * 10 + ones;
  if (point >= kPoints || Records(channel, point).empty()) return {};
  std::vector<RawRecord> records = Records(channel, point);
  for (RawRecord& record : records) record[2] = static_cast<uint8_t>(high * 16 + low);
  SetRecords(channel, point, std::move(records));
  // Built whole: GCC 12 at -O3 takes an insert into a one-byte vector for
  // an out-of-bounds copy (-Warray-bounds) and fails the release build.
  Bytes answer{'!', static_cast<uint8_t>(digits()[0]), static_cast<uint8_t>(digits()[1]), kCr};
  return answer;
}

}  // namespace tarvo::sim
