// A pxr530x sensor module: 8 channels of up to 64 points, each point one
// 4-byte record; address digits "%02X". It answers:
//   point list  "*" AA c CR    ->  ">" AA c N p1..pN CR   (points ascending)
//   block read  "#" AA "8" CR  ->  ">" AA "8" K r..r       (no end byte)
// with N the count of the channel's present points as a byte value, K the
// total count modulo 256 (filler a driver does not examine), and r..r the
// records of every channel in ascending channel order, each channel's in
// ascending point order. A module may be built with fewer channels: the
// point lists of the channels it lacks, like any command of these shapes
// with another last byte, are taken and left unanswered.
#pragma once

#include "sim/pxr530x/encode.h"
#include "sim/sensor_module.h"

namespace tarvo::sim {

class Pxr530xModule final : public SensorModule {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kPoints = 64;

  // channels: 1..8; others throw std::out_of_range.
  explicit Pxr530xModule(int address, int channels = kChannels);

  // SetRecord with EncodePxr530x(values).
  void SetValues(int channel, int point, const SensorValues& values) {
    SetRecord(channel, point, EncodePxr530x(values));
  }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;
};

}  // namespace tarvo::sim
