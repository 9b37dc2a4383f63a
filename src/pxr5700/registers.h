// The five registers of the pxr5700, by their index in the register table
// (counted from 0): the channels each accepts and the code that asks the
// module for it.
#pragma once

#include <cstdint>

namespace tarvo::pxr5700 {

enum Register : int16_t {
  kInputs = 0,         // "DI"
  kOutputs = 1,        // "DO", the only writable register
  kTemperature = 2,    // "TA"
  kTemperature12 = 3,  // "TB": the same readings as TA, another conversion
  kNumeric = 4,        // "WI"
};
inline constexpr int16_t kRegisterCount = 5;

inline bool IsRegister(int32_t index) { return index >= 0 && index < kRegisterCount; }
// Inputs and outputs are bits 0..7; the others carry channels 1 and 2.
inline bool IsBitRegister(int16_t index) { return index == kInputs || index == kOutputs; }
inline int16_t FirstChannel(int16_t index) { return IsBitRegister(index) ? 0 : 1; }
inline int16_t LastChannel(int16_t index) { return IsBitRegister(index) ? 7 : 2; }
inline bool ChannelInRange(int16_t index, int32_t channel) {
  return channel >= FirstChannel(index) && channel <= LastChannel(index);
}

// The register code of the read command; TA and TB share one.
inline uint8_t ReadCode(int16_t index) {
  constexpr uint8_t kCodes[kRegisterCount] = {'0', '1', '3', '3', '2'};
  return kCodes[index];
}

}  // namespace tarvo::pxr5700
