#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

constexpr CommandShape kShapes[] = {{'*', 5}, {'#', 5}};

constexpr RecordField kFields[] = {
    {"TA", 0, 3, &PutTempExtended, kTempExtendedRange},
    {"TB", 0, 1, &PutTemp12, kTemp12Range},
    {"WA", 0, 1, &PutTempSixteenths, kTempSixteenthsRange, 2, 0xFE},
    {"WB", 2, 3, &PutHumidity, kHumidityRange},
    {"UA", 2, 3, &PutTempSignMagnitude, kTempSignMagnitudeRange},
    {"UB", 2, 2, [](RawRecord& r, double v) { PutHalves(r, 2, v); }, kHalvesRange},
    {"WM", 2, 3, &PutHundredths, kHundredthsRange},
};

}  // namespace

const RecordLayout kPxr5100Record = {"pxr5100", kFields};

RawRecord EncodePxr5100(const Pxr5100Values& v) {
  const std::optional<double> values[] = {v.ta, v.tb, v.wa, v.wb, v.ua, v.ub, v.wm};
  return EncodeRecord(kPxr5100Record, values);
}

Pxr5100Module::Pxr5100Module(int address)
    : SensorModule(address, {"pxr5100", kChannels, kPoints, HexCase::kLower, kShapes}) {}

Bytes Pxr5100Module::Answer(std::span<const uint8_t> command, const Faults& faults,
                            int64_t /*nowMs*/) {
  const uint8_t channelDigit = command[3];
  const int channel = ChannelOf(channelDigit);
  if (channel < 0) return {};
  if (command[0] == '*') return PointListAnswer(channelDigit, faults);
  return BlockAnswer(channelDigit, channel, channel);
}

}  // namespace tarvo::sim
