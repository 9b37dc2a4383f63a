#include "tools/common/hex_dump.h"

#include <algorithm>

namespace tarvo::tools {

std::vector<std::string> HexDumpLines(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::vector<std::string> lines;
  for (size_t start = 0; start < bytes.size(); start += kHexDumpWidth) {
    const std::span<const uint8_t> row =
        bytes.subspan(start, std::min(kHexDumpWidth, bytes.size() - start));
    std::string hex;
    std::string ascii;
    for (uint8_t b : row) {
      if (!hex.empty()) hex += ' ';
      hex += kDigits[b >> 4];
      hex += kDigits[b & 0x0F];
      ascii += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
    }
    hex.resize(kHexDumpWidth * 3 - 1, ' ');
    lines.push_back(hex + "  " + ascii);
  }
  return lines;
}

}  // namespace tarvo::tools
