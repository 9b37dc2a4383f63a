// The part the three- and eight-channel sensor module models share: the
// module's points, each one 4-byte record, on a number of channels, and
// the address written as two upper-case hex digits ("%02X"); commands with
// the digits in lower case are not the module's own.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/module.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

class SensorModule : public Module {
 public:
  int channels() const { return channels_; }
  int points() const { return points_; }

  // Points are absent until given a record. Channel and point outside the
  // module's ranges throw std::out_of_range.
  void SetRecord(int channel, int point, const RawRecord& record);
  void RemovePoint(int channel, int point);
  // Present points of the channel, ascending.
  std::vector<uint8_t> Points(int channel) const;
  std::optional<RawRecord> Record(int channel, int point) const;

 protected:
  SensorModule(int address, int channels, int points);
  const std::string& digits() const { return digits_; }
  AddressForm addressForm() const override { return {.letterCase = HexCase::kUpper}; }
  // The channel a command's channel digit names, or -1 for any other byte.
  int ChannelOf(uint8_t digit) const;

 private:
  void CheckChannel(int channel) const;
  void CheckPoint(int channel, int point) const;

  int channels_;
  int points_;
  std::string digits_;
  std::vector<std::optional<RawRecord>> records_;  // channel * points + point
};

}  // namespace tarvo::sim
