#include "serial/mode_string.h"

#include <iterator>

namespace tarvo::serial {

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
