// Engineering values of one pxr5100 sensor point, encoded into the point's
// 4-byte record. The module sends one record per point and the seven
// register kinds read different bytes of it:
//   TA  b0..b3  half degrees with sign byte and count bytes
//   TB  b0, b1  12-bit sixteenths
//   WA  b0, b1  whole degrees and sixteenths; invalid when b2 is 0xFE
//   WB  b2, b3  humidity from two converter readings
//   UA  b2, b3  sign and 11-bit magnitude, sixteenths
//   UB  b2      halves
//   WM  b2, b3  hundredths, unsigned 16 bits
// so one record can make only kinds on different bytes consistent: TA
// alone, or one of TB and WA (b0, b1) with one of WB, UA, UB and WM
// (b2, b3). For example {.tb = t, .ua = t} reads t as TB and UA, and
// {.wa = t, .wb = h} is a temperature and humidity sensor.
#pragma once

#include <optional>

#include "sim/sensor_encoding.h"

namespace tarvo::sim {

struct Pxr5100Values {
  std::optional<double> ta{}, tb{}, wa{}, wb{}, ua{}, ub{}, wm{};
};

// The record whose bytes decode to the given values as nearly as their
// formats allow (sim/sensor_encoding.h gives ranges and steps); bytes no
// given kind uses are 0. Throws std::invalid_argument when two given kinds
// need the same bytes, or for a value that is not finite. With WA given, a
// b2 of 0xFE (which would make WA invalid) becomes 0xFD: the kind on b2 is
// then one step off.
RawRecord EncodePxr5100(const Pxr5100Values& values);

}  // namespace tarvo::sim
