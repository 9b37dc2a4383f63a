// The host's records for one serial port as most tests open it: 9600 bit/s,
// 8 data bits, no parity, 1 stop bit, line time-outs of 500 ms, and the
// transfer time-out text given (decimal ms, options after a comma:
// "300,early"). A test changes a field where it needs another value.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "tarvo/records.h"

namespace tarvo::test {

struct HostPort {
  // port: 1..255 (PortIndex port - 1).
  explicit HostPort(int32_t port = 1, std::string_view timeout = "300") {
    settings.PortIndex = static_cast<int16_t>(port - 1);
    settings.BaudCode = 6;  // 9600
    settings.DataBitsCode = 1;
    settings.StopBitsCode = 0;
    settings.ParityCode = 2;
    settings.LineTimeout = 500;
    config.Settings = &settings;
    SetTimeout(timeout);
  }
  HostPort(int32_t port, int32_t timeoutMs) : HostPort(port, std::to_string(timeoutMs)) {}
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;

  // The transfer time-out text, cut to what the record holds.
  void SetTimeout(std::string_view timeout) {
    const size_t length = std::min(timeout.size(), sizeof config.TimeoutText - 1);
    timeout.copy(config.TimeoutText, length);
    config.TimeoutText[length] = '\0';
  }

  LineSettings settings{};
  PortConfig config{};
};

}  // namespace tarvo::test
