// Engineering values of one sensor point of the three- and eight-channel
// sensor modules, encoded into the point's 4-byte record (b0..b3, in the
// order sent). The four register kinds read different bytes of it:
//
//   pxr5303  TA  b0..b3  half degrees with sign byte and count bytes
//            TB  b0, b1  12-bit sixteenths
//            WA  b2, b3  sign and 11-bit magnitude, sixteenths; invalid when b1 is 0xFF
//            WB  b1      halves; invalid when b1 is 0xFF
//   pxr530x  TA  b0..b3  as above
//            TB  b0, b1  as above
//            WA  b0, b1  whole degrees and sixteenths; invalid when b2 is 0xFE
//            WB  b2, b3  relative humidity; invalid when b3 is 0xFE
//
// so one pxr5303 record makes TA alone, or TB with WA, or WA with WB
// consistent (a TB from -16 up to 0 puts 0xFF into b1, which makes WA
// invalid, as it would on a module), and one pxr530x record TA alone, or one of TB and WA with
// WB. On channels 1 and 2 of a pxr5303 the module sends the point number
// in b0 (sim/pxr530x/module_5303.h), so those points carry WA and WB.
#pragma once

#include <optional>

#include "sim/sensor_encoding.h"

namespace tarvo::sim {

struct SensorValues {
  std::optional<double> ta{}, tb{}, wa{}, wb{};
};

// The records' kinds in the order of SensorValues.
extern const RecordLayout kPxr5303Record;
extern const RecordLayout kPxr530xRecord;

// The record whose bytes decode to the given values as nearly as their
// formats allow (sim/sensor_encoding.h); bytes no given kind uses are 0.
// Throws std::invalid_argument when two given kinds need the same bytes, or
// for a value that is not finite. A WB of 127.5 (b1 0xFF, the invalid
// marker) is sent as 127.0; with WA given and no WB, b1 is 0 (valid).
RawRecord EncodePxr5303(const SensorValues& values);

// As EncodePxr5303 for the pxr530x layout. With WA given, a b2 of 0xFE
// (the invalid marker) becomes 0xFD; a humidity never uses 0xFE.
RawRecord EncodePxr530x(const SensorValues& values);

}  // namespace tarvo::sim
