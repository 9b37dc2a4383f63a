#include "serial/settings.h"

#include <iterator>
#include <string_view>

namespace tarvo::serial {

namespace {
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
}  // namespace

int32_t TransferTimeout(const char* text, size_t size) {
  if (text == nullptr) return kDefaultTimeoutMs;
  size_t at = 0;
  while (at < size && IsBlank(text[at])) ++at;
  bool negative = false;
  if (at < size && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  int64_t value = 0;
  // Saturates well above the range: a long run of digits is out of range,
  // not an overflow.
  for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at)
    if (value <= kMaxTimeoutMs) value = value * 10 + (text[at] - '0');
  if (negative) value = -value;
  return value >= kMinTimeoutMs && value <= kMaxTimeoutMs ? static_cast<int32_t>(value)
                                                          : kDefaultTimeoutMs;
}

bool EarlyRepliesOption(const char* text, size_t size) {
  if (text == nullptr) return false;
  size_t end = 0;
  while (end < size && text[end] != '\0') ++end;
  const std::string_view field(text, end);
  size_t at = field.find(',');
  while (at != std::string_view::npos) {
    const size_t next = field.find(',', at + 1);
    std::string_view option =
        field.substr(at + 1, next == std::string_view::npos ? next : next - at - 1);
    while (!option.empty() && IsBlank(option.front())) option.remove_prefix(1);
    while (!option.empty() && IsBlank(option.back())) option.remove_suffix(1);
    if (option == "early") return true;
    at = next;
  }
  return false;
}

int32_t BaudRateOf(uint32_t code, int32_t fallback) {
  static constexpr int32_t kRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                       19200, 38400, 56000, 57600, 115200, 128000, 256000};
  return code < std::size(kRates) ? kRates[code] : fallback;
}

std::string SettingsText(int16_t parityCode, int16_t dataBitsCode, int16_t stopBitsCode) {
  static constexpr char kParity[] = {'o', 'e', 'n', 'm', 's'};
  std::string text;
  if (parityCode < 0 || parityCode > 4) return text;
  text += kParity[parityCode];
  text += ',';
  if (dataBitsCode < 0 || dataBitsCode > 1) return text;
  text += dataBitsCode == 0 ? "7," : "8,";
  if (stopBitsCode < 0 || stopBitsCode > 1) return text;
  text += stopBitsCode == 0 ? "1," : "2,";
  return text;
}

std::string ModeString(int32_t port, int32_t baudRate, const std::string& settings) {
  return "COM" + std::to_string(port) + ":" + std::to_string(baudRate) + "," + settings;
}

}  // namespace tarvo::serial
