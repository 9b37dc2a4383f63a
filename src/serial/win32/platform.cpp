#include "serial/platform.h"

#include "serial/device_names.h"
#include "serial/win32/win32_device.h"

namespace tarvo::serial {
namespace {

class Win32Platform final : public Platform {
 public:
  std::unique_ptr<Device> OpenDevice(int32_t port) override {
    if (port < kFirstPort || port > kLastPort) return nullptr;
    return Win32Device::Open(PortDevice(port));
  }
};

}  // namespace

Platform& SystemPlatform() {
  static Win32Platform platform;
  return platform;
}

}  // namespace tarvo::serial
