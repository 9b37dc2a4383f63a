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
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "sim/module.h"
#include "sim/pxr5100/encode.h"

namespace tarvo::sim {

class Pxr5100Module final : public Module {
 public:
  static constexpr int kChannels = 8;
  static constexpr int kPoints = 64;

  explicit Pxr5100Module(int address);

  std::string_view family() const override { return "pxr5100"; }
  Frame FrameCommand(std::span<const uint8_t> head) const override;

  // Points are absent until given a record. channel 0..7, point 0..63;
  // other numbers throw std::out_of_range.
  void SetRecord(int channel, int point, const RawRecord& record);
  // SetRecord with EncodePxr5100(values).
  void SetValues(int channel, int point, const Pxr5100Values& values);
  void RemovePoint(int channel, int point);
  // Present points of the channel, ascending.
  std::vector<uint8_t> Points(int channel) const;
  std::optional<RawRecord> Record(int channel, int point) const;

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;

 private:
  std::string digits_;
  std::array<std::array<std::optional<RawRecord>, kPoints>, kChannels> records_;
};

}  // namespace tarvo::sim
