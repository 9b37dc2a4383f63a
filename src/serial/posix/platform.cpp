#include "serial/platform.h"

#include "serial/device_names.h"
#include "serial/posix/posix_device.h"

namespace tarvo::serial {
namespace {

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<Device> OpenDevice(int32_t port) override {
    if (port < kFirstPort || port > kLastPort) return nullptr;
    return PosixDevice::Open(PortDevice(port));
  }
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

}  // namespace tarvo::serial
