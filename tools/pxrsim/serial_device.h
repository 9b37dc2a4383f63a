// A real serial device for pxrsim to serve: opened raw at the line settings
// the modules would have.
#pragma once

#include <string>

namespace tarvo::tools {

struct DeviceSettings {
  int baud = 9600;
  std::string parity = "none";  // none, even, odd, mark, space
  int dataBits = 8;             // 7 or 8
  int stopBits = 1;             // 1 or 2
};

// The open descriptor (close it when done). Throws std::runtime_error with
// a message for the user when the device cannot be opened or set.
int OpenSerialDevice(const std::string& path, const DeviceSettings& settings);

}  // namespace tarvo::tools
