#include "serial/device_names.h"

#include <string>

namespace tarvo::serial {

// Windows names its own ports; the "\\.\" form reaches COM10 and above too.
bool SetPortDevice(int32_t, const char*) { return false; }

std::string PortDevice(int32_t port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace tarvo::serial
