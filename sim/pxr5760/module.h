// A pxr5760 bus-point module: 8 channels of up to 32 bus points, each point
// sending one 4-byte record per block read. Its address travels as two
// lowercase hex digits ("%02x"). It answers:
//   scan        "*" mm c CR        ->  ">" mm c N p1..pN CR  (points ascending)
//   block read  "#" mm "8" CR      ->  ">" mm "8" K r1..rK   (no end byte)
//   output      "/" mm c pp xx CR  ->  "!" mm CR
// where c is the channel digit "0".."7", N the count of present points and
// p1..pN their numbers as byte values, K the number of records (a byte
// value, filler a driver does not examine) and r1..rK the records of every
// present point of the module, channel 0 first, points ascending. pp is the
// point in two decimal digits, xx the new output byte in two hex digits.
//
// A point whose values come from several sub-channels is given one record
// per sub-channel (bits 7..5 of b2 name it); the module multiplexes them:
// its n-th block read sends each such point's record n modulo their count.
// The output write replaces b2 of every record of the point, which is where
// an output point keeps its output byte.
//
// Commands of these shapes addressed to the module with a channel it lacks,
// a point it does not have, or a malformed number are taken and left
// unanswered.
//
// A point's record carries, as far as they do not need the same bytes:
//   TA       b2, b3: sixteenths of a degree, 11-bit magnitude, sign bit 3 of b3
//   HB       b1: halves, signed (-64 .. 63.5)
//   KT       b1 and the low half of b2: quarters (0 .. 1023.75)
//   inputs   b1: the eight input bits, a whole number 0..255
//   outputs  b2: the eight output bits, 0..255
#pragma once

#include "sim/sensor_module.h"

namespace tarvo::sim {

// The record's kinds in the order above (EncodeRecord writes them).
extern const RecordLayout kPxr5760Record;

class Pxr5760Module final : public SensorModule {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kPoints = 32;

  explicit Pxr5760Module(int address);

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;

 private:
  Bytes WriteAnswer(std::span<const uint8_t> command);
};

}  // namespace tarvo::sim
