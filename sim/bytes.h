// Byte strings on the simulated line, and the two-digit module addresses
// that the module families write into their commands and answers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::sim {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kCr = 0x0D;  // ends every command

// The bytes of a text, one byte per char (no terminator).
Bytes ToBytes(std::string_view text);
// The bytes as a text, one char per byte; handy for comparing with literals
// such as ">0a1\x02\x05\x09\r".
std::string ToText(std::span<const uint8_t> bytes);

enum class HexCase { kLower, kUpper };

// Two hexadecimal digits of an address 0..255 ("%02x" or "%02X"); throws
// std::out_of_range for other values.
std::string HexAddress(int address, HexCase letterCase);

}  // namespace tarvo::sim
