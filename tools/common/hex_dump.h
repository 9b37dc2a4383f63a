// Bytes on the wire for people: hexadecimal pairs and, beside them, the
// printable ASCII characters with a dot for every other byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvo::tools {

inline constexpr size_t kHexDumpWidth = 16;  // bytes per line

// One line per kHexDumpWidth bytes: "3e 30 31 ... 0d  >01...." with the hex
// part padded to the full width so the ASCII columns line up. No bytes give
// no lines.
std::vector<std::string> HexDumpLines(std::span<const uint8_t> bytes);

}  // namespace tarvo::tools
