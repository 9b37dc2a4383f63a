// Which device a port number opens. On Windows every port n is
// "\\.\COMn"; on POSIX systems port n is /dev/ttyS{n-1} unless the host
// mapped it with TarvoSetPortDevice.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::serial {

inline constexpr int32_t kFirstPort = 1;
inline constexpr int32_t kLastPort = 255;

// Stores a device path for port (1..255); null or empty restores the
// default. Returns false for a port out of range or where ports cannot be
// mapped.
bool SetPortDevice(int32_t port, const char* path);
// The device path port opens.
std::string PortDevice(int32_t port);

}  // namespace tarvo::serial
