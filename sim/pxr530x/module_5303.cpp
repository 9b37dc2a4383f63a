#include "sim/pxr530x/module_5303.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'$', 5}, {'*', 5}, {'#', 5}};

}  // namespace

Pxr5303Module::Pxr5303Module(int address)
    : SensorModule(address, {"pxr5303", kChannels, kPoints, HexCase::kUpper, kShapes}) {}

Bytes Pxr5303Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t last = command[3];
  switch (command[0]) {
    case '$': {
      if (last != '6') return {};
      int mask = 0;
      Bytes counts;
      for (int c = 0; c < kChannels; ++c) {
        const size_t present = Points(c).size();
        if (present != 0) mask |= 1 << c;
        counts.push_back(static_cast<uint8_t>(present));
      }
      Bytes answer = {'!'};
      answer.insert(answer.end(), digits().begin(), digits().end());
      answer.push_back(static_cast<uint8_t>('0' + (mask >> 4)));
      answer.push_back(static_cast<uint8_t>('0' + (mask & 0x0F)));
      answer.insert(answer.end(), counts.begin(), counts.end());
      return answer;
    }
    case '*':
      return PointListAnswer(last, faults);
    default:  // '#'
      return last == '8' ? BlockAnswer(last, 0, kChannels - 1) : Bytes{};
  }
}

RawRecord Pxr5303Module::Sent(int channel, int point, RawRecord record) const {
  if (channel != 0) record[0] = static_cast<uint8_t>(point);
  return record;
}

}  // namespace tarvo::sim
