// The module's commands: a lead byte, the module address as two upper-case
// hexadecimal digits, one byte of payload and CR, always all five bytes.
#pragma once

#include <array>
#include <cstdint>

namespace tarvo::pxr5700 {

using Command = std::array<uint8_t, 5>;

inline constexpr uint8_t kReadLead = '#';
inline constexpr uint8_t kWriteLead = '/';

// module: 0..255.
inline Command MakeCommand(uint8_t lead, int module, uint8_t payload) {
  constexpr char kHex[] = "0123456789ABCDEF";
  return {lead, static_cast<uint8_t>(kHex[(module >> 4) & 0xF]),
          static_cast<uint8_t>(kHex[module & 0xF]), payload, 0x0D};
}

}  // namespace tarvo::pxr5700
