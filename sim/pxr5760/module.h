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
#pragma once

#include <array>
#include <vector>

#include "sim/module.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

class Pxr5760Module final : public Module {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kPoints = 32;

  explicit Pxr5760Module(int address);

  std::string_view family() const override { return "pxr5760"; }
  Frame FrameCommand(std::span<const uint8_t> head) const override;

  // Points are absent until given records. channel 0..7, point 0..31;
  // other numbers, and an empty list, throw std::out_of_range.
  void SetRecord(int channel, int point, const RawRecord& record);
  // Records the point's block-read answers take turns with.
  void SetRecords(int channel, int point, std::vector<RawRecord> records);
  void RemovePoint(int channel, int point);
  // Present points of the channel, ascending.
  std::vector<uint8_t> Points(int channel) const;
  // The point's records (empty when absent).
  const std::vector<RawRecord>& Records(int channel, int point) const;
  // Block reads answered so far (a silent one included).
  int blockReads() const { return blockReads_; }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;

 private:
  Bytes BlockAnswer();
  Bytes WriteAnswer(std::span<const uint8_t> command);

  std::string digits_;
  std::array<std::array<std::vector<RawRecord>, kPoints>, kChannels> records_;
  // Entries the channel's last point list had beyond its points (a point
  // listed twice, a point it cannot have): the module sends a record for
  // every entry it listed, these as zero bytes after the channel's own.
  std::array<int, kChannels> extraEntries_{};
  int blockReads_ = 0;
};

}  // namespace tarvo::sim
