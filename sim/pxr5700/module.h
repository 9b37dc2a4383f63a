// A pxr5700 I/O module: eight digital inputs, eight digital outputs, two
// temperature channels (a 4-byte raw reading each) and two numeric channels
// (five characters of decimal text each). Its address travels as two
// upper-case hex digits ("%02X"); commands with lower-case digits are not
// its own. It answers:
//   read inputs       "#" mm "0" CR  ->  ">" mm i CR
//   read outputs      "#" mm "1" CR  ->  ">" mm o CR
//   read numerics     "#" mm "2" CR  ->  ">" mm "2," t1 "," t2 CR
//   read temperatures "#" mm "3" CR  ->  ">" mm "3," r1 r2 CR
//   write outputs     "/" mm b CR    ->  "!" mm b CR
// where i and o are the eight input and output bits as one raw byte (bit n
// for channel n), t1 and t2 the five characters of numeric channels 1 and 2,
// r1 and r2 the raw readings of temperature channels 1 and 2, and b the new
// output byte, any value (0x0D included: commands are framed by length). A
// read command with another register code is taken and left unanswered.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "sim/module.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

class Pxr5700Module final : public Module {
 public:
  static constexpr int kBits = 8;
  static constexpr size_t kTextLength = 5;

  explicit Pxr5700Module(int address);

  std::string_view family() const override { return "pxr5700"; }
  Frame FrameCommand(std::span<const uint8_t> head) const override;

  // Bit n is input or output n. A write command sets the outputs (also when
  // a fault keeps the module silent).
  void SetInputs(uint8_t bits) { inputs_ = bits; }
  void SetOutputs(uint8_t bits) { outputs_ = bits; }
  uint8_t inputs() const { return inputs_; }
  uint8_t outputs() const { return outputs_; }

  // Channels 1 and 2; others throw std::out_of_range. All bytes 0 at first.
  void SetTemperatureRecord(int channel, const RawRecord& record);
  // Exactly five characters, sent as they are (five blanks at first); another
  // length throws std::invalid_argument.
  void SetNumericText(int channel, std::string_view text);

  // The answer to a write repeats this byte instead of the one received
  // (the outputs still take the received byte); nullopt: a true echo.
  void SetEchoOverride(std::optional<uint8_t> echo) { echoOverride_ = echo; }

 protected:
  Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) override;
  AddressForm addressForm() const override { return {.letterCase = HexCase::kUpper}; }

 private:
  std::string digits_;
  uint8_t inputs_ = 0;
  uint8_t outputs_ = 0;
  std::array<RawRecord, 2> temperatures_{};
  std::array<std::string, 2> numerics_{std::string(kTextLength, ' '),
                                       std::string(kTextLength, ' ')};
  std::optional<uint8_t> echoOverride_;
};

}  // namespace tarvo::sim
