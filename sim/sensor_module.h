// The part the sensor-point families' module models share (pxr5100,
// pxr5303, pxr530x, pxr5760): channels of points, each point one 4-byte
// record; the address as two hex digits in the family's case (commands with
// the digits in the other case are not the module's own); and the two
// answers every such family gives alike:
//   point list  ">" AA c N p1..pN CR   the present points of channel c,
//                                      ascending, N and the points as byte
//                                      values
//   block read  ">" AA f K r1..rK      the records of a range of channels,
//                                      channel by channel, points ascending;
//                                      f a filler byte, K the count of
//                                      records modulo 256 (no end byte)
// A family derives, gives its shape to the constructor and answers its
// commands with these (and its own).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/module.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

class SensorModule : public Module {
 public:
  std::string_view family() const override { return shape_.family; }
  Frame FrameCommand(std::span<const uint8_t> head) const override;

  int channels() const { return shape_.channels; }
  int points() const { return shape_.points; }

  // Points are absent until given a record. Channel and point outside the
  // module's ranges throw std::out_of_range.
  void SetRecord(int channel, int point, const RawRecord& record);
  // Records a point's block-read answers take turns with: the n-th block
  // read sends record n modulo their count. An empty list throws
  // std::out_of_range.
  void SetRecords(int channel, int point, std::vector<RawRecord> records);
  void RemovePoint(int channel, int point);
  // Present points of the channel, ascending.
  std::vector<uint8_t> Points(int channel) const;
  // The point's first record (nullopt when absent).
  std::optional<RawRecord> Record(int channel, int point) const;
  // The point's records (empty when absent).
  const std::vector<RawRecord>& Records(int channel, int point) const;
  // Block reads answered so far (a silent one included).
  int blockReads() const { return blockReads_; }

 protected:
  struct Shape {
    std::string_view family;  // "pxr5100"
    int channels;
    int points;  // per channel
    HexCase letterCase;
    std::span<const CommandShape> commands;  // static storage
    // A block read sends a record for every entry of each channel's last
    // point list, the entries beyond the channel's points (a point listed
    // twice, a point it cannot have) as zero bytes after its own records.
    // Otherwise it sends one record per present point, whatever was listed.
    bool recordPerListedEntry = false;
  };
  SensorModule(int address, const Shape& shape);

  const std::string& digits() const { return digits_; }
  AddressForm addressForm() const override { return {.letterCase = shape_.letterCase}; }
  // The channel a command's channel digit names, or -1 for any other byte.
  int ChannelOf(uint8_t digit) const;

  // The point list of the channel `channelDigit` names, echoing the digit
  // as the filler; no bytes when it names none. The point-list faults of
  // `faults` add to the list (and to N): the first point once more
  // (`pointTwice`, when there is one), then `extraPoint`.
  Bytes PointListAnswer(uint8_t channelDigit, const Faults& faults);
  // The block read of channels first..last with `filler` after the
  // address; counts one block read.
  Bytes BlockAnswer(uint8_t filler, int first, int last);
  // The record a block read sends for the point; the family may change
  // bytes of the one given (by default it is sent as it is).
  virtual RawRecord Sent(int channel, int point, RawRecord record) const;

 private:
  void CheckChannel(int channel) const;
  void CheckPoint(int channel, int point) const;
  size_t Index(int channel, int point) const;

  Shape shape_;
  std::string digits_;
  std::vector<std::vector<RawRecord>> records_;  // channel * points + point
  // Per channel: the entries its last point list had beyond its points.
  std::vector<int> extraEntries_;
  int blockReads_ = 0;
};

}  // namespace tarvo::sim
