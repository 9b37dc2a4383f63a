// The host's records for one COM port: 9600 bit/s, 8 data bits, no parity,
// 1 stop bit; line time-outs of 500 ms; transfer time-out 100 ms.
#pragma once

#include <cstring>

#include "tarvo/records.h"

namespace tarvo_test {

struct HostPort {
  explicit HostPort(int port) {
    settings.PortIndex = static_cast<int16_t>(port - 1);
    settings.BaudCode = 6;
    settings.DataBitsCode = 1;
    settings.StopBitsCode = 0;
    settings.ParityCode = 2;
    settings.LineTimeout = 500;
    config.Settings = &settings;
    std::strcpy(config.TimeoutText, "100");
  }
  HostPort(const HostPort&) = delete;
  HostPort& operator=(const HostPort&) = delete;
  tarvo::LineSettings settings{};
  tarvo::PortConfig config{};
};

}  // namespace tarvo_test
