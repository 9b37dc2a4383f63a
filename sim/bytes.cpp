#include "sim/bytes.h"

#include <stdexcept>

namespace tarvo::sim {

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::string ToText(std::span<const uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

std::string HexAddress(int address, HexCase letterCase) {
  if (address < 0 || address > 255) throw std::out_of_range("module address outside 0..255");
  const char* digits = letterCase == HexCase::kLower ? "0123456789abcdef" : "0123456789ABCDEF";
  return {digits[address >> 4], digits[address & 0x0F]};
}

}  // namespace tarvo::sim
