// Where devices come from: the platform opens the device behind a port
// number. The system platform (win32/ or posix/, chosen by the build) is used
// unless a test installs its own.
#pragma once

#include <cstdint>
#include <memory>

#include "serial/device.h"

namespace tarvo::serial {

class Platform {
 public:
  virtual ~Platform() = default;
  // Opens the device of port (any value; only 1..255 can exist) for
  // exclusive use, without configuring it. Null when it cannot be opened.
  virtual std::unique_ptr<Device> OpenDevice(int32_t port) = 0;
};

// The platform's own devices.
Platform& SystemPlatform();
// The platform the line uses: the system's unless a test installed one.
Platform& CurrentPlatform();
// Installs platform for the whole process (tests only); null restores the
// system platform. The caller keeps ownership and must outlive its use.
void SetPlatform(Platform* platform);

}  // namespace tarvo::serial
