#include "tools/plant/line_options.h"

#include <cctype>
#include <charconv>

namespace tarvo::tools {
namespace {

constexpr int32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                  19200, 38400, 56000, 57600, 115200, 128000, 256000};

struct Parity {
  std::string_view name;
  int16_t code;
};
// The codes of the host's parity table.
constexpr Parity kParities[] = {{"odd", 0}, {"even", 1}, {"none", 2}, {"mark", 3}, {"space", 4}};

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

}  // namespace

std::optional<PortChoice> ParsePort(std::string_view text, std::string* error) {
  if (text.find('/') != std::string_view::npos) return PortChoice{kMappedPort, std::string(text)};
  std::string_view digits = text;
  if (digits.size() > 3 && Lower(digits.substr(0, 3)) == "com") digits.remove_prefix(3);
  int32_t number = 0;
  const auto [end, status] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (!digits.empty() && status == std::errc() && end == digits.data() + digits.size() &&
      number >= 1 && number <= 255)
    return PortChoice{number, ""};
  *error = "port \"" + std::string(text) +
           "\": expected COMn or a port number 1..255 (COMn opens /dev/ttyS{n-1}), or a device "
           "path such as /dev/ttyUSB0";
  return std::nullopt;
}

std::span<const int32_t> BaudRates() { return kBaudRates; }

std::string BaudRateList() {
  std::string list;
  for (int32_t rate : kBaudRates) list += (list.empty() ? "" : ", ") + std::to_string(rate);
  return list;
}

std::optional<uint32_t> BaudCode(int32_t baud) {
  for (uint32_t code = 0; code < std::size(kBaudRates); ++code)
    if (kBaudRates[code] == baud) return code;
  return std::nullopt;
}

std::optional<int16_t> ParityCode(std::string_view parity) {
  const std::string lower = Lower(parity);
  for (const Parity& entry : kParities) {
    if (lower == entry.name || (lower.size() == 1 && lower[0] == entry.name[0])) return entry.code;
  }
  return std::nullopt;
}

char ParityLetter(int16_t code) {
  for (const Parity& entry : kParities)
    if (entry.code == code) return static_cast<char>(std::toupper(entry.name[0]));
  return '?';
}

}  // namespace tarvo::tools
