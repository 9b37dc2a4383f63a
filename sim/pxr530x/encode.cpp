#include "sim/pxr530x/encode.h"

namespace tarvo::sim {
namespace {

constexpr RecordField kTa = {"TA", 0, 3, &PutTempExtended, kTempExtendedRange};
constexpr RecordField kTb = {"TB", 0, 1, &PutTemp12, kTemp12Range};

constexpr RecordField k5303Fields[] = {
    kTa,
    kTb,
    {"WA", 2, 3, &PutTempSignMagnitude, kTempSignMagnitudeRange},
    {"WB", 1, 1, [](RawRecord& r, double v) { PutHalves(r, 1, v); }, kHalvesRange, 1, 0xFF},
};

constexpr RecordField k530xFields[] = {
    kTa,
    kTb,
    {"WA", 0, 1, &PutTempSixteenths, kTempSixteenthsRange, 2, 0xFE},
    {"WB", 2, 3, &PutHumidity, kHumidityRange},
};

RawRecord Encode(const RecordLayout& layout, const SensorValues& v) {
  const std::optional<double> values[] = {v.ta, v.tb, v.wa, v.wb};
  return EncodeRecord(layout, values);
}

}  // namespace

const RecordLayout kPxr5303Record = {"pxr5303", k5303Fields};
const RecordLayout kPxr530xRecord = {"pxr530x", k530xFields};

RawRecord EncodePxr5303(const SensorValues& values) { return Encode(kPxr5303Record, values); }

RawRecord EncodePxr530x(const SensorValues& values) { return Encode(kPxr530xRecord, values); }

}  // namespace tarvo::sim
