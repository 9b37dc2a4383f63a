#include "sim/pxr530x/module_5303.h"

#include "sim/point_list.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'$', 5}, {'*', 5}, {'#', 5}};

}  // namespace

Frame Pxr5303Module::FrameCommand(std::span<const uint8_t> head) const {
  return FrameAddressed(head, kShapes, digits());
}

Bytes Pxr5303Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t last = command[3];
  Bytes answer;
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
      answer = {'!'};
      answer.insert(answer.end(), digits().begin(), digits().end());
      answer.push_back(static_cast<uint8_t>('0' + (mask >> 4)));
      answer.push_back(static_cast<uint8_t>('0' + (mask & 0x0F)));
      answer.insert(answer.end(), counts.begin(), counts.end());
      return answer;
    }
    case '*': {
      const int channel = ChannelOf(last);
      if (channel < 0) return {};
      return PointListAnswer(digits(), last, Points(channel), faults);
    }
    default: {  // '#'
      if (last != '8') return {};
      Bytes records;
      for (int c = 0; c < kChannels; ++c) {
        for (uint8_t point : Points(c)) {
          RawRecord record = *Record(c, point);
          if (c != 0) record[0] = point;
          records.insert(records.end(), record.begin(), record.end());
        }
      }
      answer = {'>'};
      answer.insert(answer.end(), digits().begin(), digits().end());
      answer.push_back(last);
      answer.push_back(static_cast<uint8_t>(records.size() / 4));
      answer.insert(answer.end(), records.begin(), records.end());
      return answer;
    }
  }
}

}  // namespace tarvo::sim
