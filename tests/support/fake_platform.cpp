#include "support/fake_platform.h"

#include "serial/device.h"

namespace tarvo::test {

FakeLine& FakePlatform::line(int32_t port) {
  std::shared_ptr<FakeLine>& line = lines_[port];
  if (line == nullptr) line = std::make_shared<FakeLine>();
  return *line;
}

std::unique_ptr<serial::Device> FakePlatform::OpenDevice(int32_t port) {
  if (port < serial::kFirstPort || port > serial::kLastPort) return nullptr;
  return line(port).Open();
}

}  // namespace tarvo::test
