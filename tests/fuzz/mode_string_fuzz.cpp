// The line-setting texts: the transfer time-out text with its options, the
// settings text and mode string built from any codes, and the mode-string
// parser on any text.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "serial/device.h"
#include "serial/settings.h"
#include "serial/posix/parse_mode_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo::serial;
  // The time-out field is 64 characters and need not be terminated.
  const int32_t timeout =
      TransferTimeout(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  if (timeout < kMinTimeoutMs || timeout > kMaxTimeoutMs) __builtin_trap();
  // Options after the first comma ("300,early") never change the time-out.
  EarlyRepliesOption(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
  const auto comma =
      static_cast<size_t>(std::find(data, data + (size < 64 ? size : 64), ',') - data);
  if (TransferTimeout(reinterpret_cast<const char*>(data), comma) != timeout) __builtin_trap();

  if (size >= 8) {
    int16_t codes[3];
    uint32_t baudCode;
    std::memcpy(codes, data, sizeof codes);
    std::memcpy(&baudCode, data + 3, sizeof baudCode);
    const std::string settings = SettingsText(codes[0], codes[1], codes[2]);
    if (settings.size() > 6) __builtin_trap();
    const std::string mode =
        ModeString(static_cast<int32_t>(data[7]) + 1, BaudRateOf(baudCode, 9600), settings);
    LineState state{};
    ParseModeString(mode.c_str(), &state);
  }

  const std::string text(reinterpret_cast<const char*>(data), size);
  LineState state{};
  LineState before = state;
  if (!ParseModeString(text.c_str(), &state) && !(state == before))
    __builtin_trap();  // a refused text leaves the state as it was
  return 0;
}
