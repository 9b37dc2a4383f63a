// The serial line as the user gives it on the command line, turned into
// the codes of the host's LineSettings record.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tarvo::tools {

// The COM number a device path is mapped to with TarvoSetPortDevice: the
// highest the library accepts, which no default device name uses.
inline constexpr int32_t kMappedPort = 255;

struct PortChoice {
  int32_t portNumber = 0;  // 1..255, "COMn"
  std::string device;      // a device path to map to portNumber; empty: the library's default
};

// "COM3" or "com3" or "3": port 3 as the library maps it (/dev/ttyS2 unless
// mapped); a text with a "/" is a device path, mapped to kMappedPort.
// Nothing, with *error set, for anything else.
std::optional<PortChoice> ParsePort(std::string_view text, std::string* error);

// The rates the library can set, in the order of their codes.
std::span<const int32_t> BaudRates();
// "110, 300, ..., 256000", for messages that list them.
std::string BaudRateList();
// The code of a rate, or nothing when the library has none for it.
std::optional<uint32_t> BaudCode(int32_t baud);

// "none", "even", "odd", "mark", "space" (or their first letters, any case)
// to the parity code; nothing for anything else.
std::optional<int16_t> ParityCode(std::string_view parity);
// The letter of a parity code ("n", "e", ...) for a line description.
char ParityLetter(int16_t code);

}  // namespace tarvo::tools
