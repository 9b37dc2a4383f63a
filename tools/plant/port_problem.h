// Why a serial device cannot be opened, or used once open, from the device
// itself: the driver reports every failure to open as code 10, which does
// not tell a missing adapter from a permission or a port in use, and a
// file that is not a serial line as code 13, the line's state.
#pragma once

#include <sys/types.h>

#include <string>

namespace tarvo::tools {

// "/dev/ttyUSB0 does not exist ...", "permission denied on ...", "... is in
// use by another program", "... is not a serial device"; empty when the
// device opens here as a serial line.
std::string DescribeDeviceProblem(const std::string& path);

// What a process refused a device may do about it.
struct DeviceAccess {
  std::string path;
  std::string owner;  // user and group names (numbers where they have none)
  std::string group;
  mode_t mode = 0;
  std::string user;      // whom the process runs as
  bool inGroup = false;  // the process is in the device's group
  bool service = false;  // no controlling terminal, or started by systemd
};

// "permission denied on /dev/ttyS0 (crw-rw---- root dialout): add your user
// to the group dialout (...)", the group advised only where joining it
// would let the process in; no "log in again" for a service.
std::string PermissionAdvice(const DeviceAccess& access);

}  // namespace tarvo::tools
