// A pxr5303 sensor module: 3 channels of up to 16 points, each point one
// 4-byte record; address digits "%02X". It answers:
//   summary     "$" AA "6" CR  ->  "!" AA m1 m0 k0 k1 k2
//   point list  "*" AA c CR    ->  ">" AA c N p1..pN CR   (points ascending)
//   block read  "#" AA "8" CR  ->  ">" AA "8" K r..r       (no end byte)
// m1 m0 are the digits "0".."7" of the channel mask (bit c set when channel
// c has points), k0..k2 and N the counts of present points as byte values,
// K the total count (filler a driver does not examine), and r..r the
// records of channel 0, then 1, then 2, each channel's in ascending point
// order. On channels 1 and 2 the module puts the point number into b0 of
// each record it sends. A command of these shapes with another last byte
// (a channel it lacks) is taken and left unanswered.
#pragma once

#include "sim/pxr530x/encode.h"
#include "sim/sensor_module.h"

namespace tarvo::sim {

class Pxr5303Module final : public SensorModule {
 public:
  static constexpr int kChannels = 3;
  static constexpr int kPoints = 16;

  explicit Pxr5303Module(int address);

  // SetRecord with EncodePxr5303(values).
  void SetValues(int channel, int point, const SensorValues& values) {
    SetRecord(channel, point, EncodePxr5303(values));
  }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;
  RawRecord Sent(int channel, int point, RawRecord record) const override;
};

}  // namespace tarvo::sim
