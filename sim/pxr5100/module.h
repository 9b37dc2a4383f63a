// A pxr5100 temperature-acquisition module: 8 channels, each a chain of up
// to 64 sensor points, each point one 4-byte record. Its address travels as
// two lowercase hex digits ("%02x"); commands with the digits in upper case
// are not its own. It answers:
//   scan        "*" mm c CR  ->  ">" mm c N p1..pN CR   (points ascending)
//   block read  "#" mm c CR  ->  ">" mm c K r1..rK      (no end byte)
// where c is the channel digit "0".."7", N the count of present points and
// the point numbers byte values, K the count of records (a byte value), and
// r1..rK the 4-byte records of the present points in ascending point order.
// The byte after the address digits (the channel digit echoed) and, in the
// block read, the count K are filler that a driver does not examine. A
// command of this shape addressed to the module with another channel byte
// is taken and left unanswered.
//
// The seven register kinds read different bytes of a point's record:
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

#include "sim/sensor_module.h"

namespace tarvo::sim {

struct Pxr5100Values {
  std::optional<double> ta{}, tb{}, wa{}, wb{}, ua{}, ub{}, wm{};
};

// The record's kinds in the order of Pxr5100Values.
extern const RecordLayout kPxr5100Record;

// The record whose bytes decode to the given values as nearly as their
// formats allow (sim/sensor_encoding.h gives ranges and steps); bytes no
// given kind uses are 0. Throws std::invalid_argument when two given kinds
// need the same bytes, or for a value that is not finite. With WA given, a
// b2 of 0xFE (which would make WA invalid) becomes 0xFD: the kind on b2 is
// then one step off.
RawRecord EncodePxr5100(const Pxr5100Values& values);

class Pxr5100Module final : public SensorModule {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kPoints = 64;

  explicit Pxr5100Module(int address);

  // SetRecord with EncodePxr5100(values).
  void SetValues(int channel, int point, const Pxr5100Values& values) {
    SetRecord(channel, point, EncodePxr5100(values));
  }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;
};

}  // namespace tarvo::sim
