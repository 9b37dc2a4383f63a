// A platform of fake lines, one per port number, created on first use and
// present until made missing.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "serial/device.h"
#include "support/fake_line.h"

namespace tarvo::test {

class FakePlatform final : public serial::Platform {
 public:
  // The line of port (1..255).
  FakeLine& line(int32_t port);
  // Ports outside 1..255 do not exist.
  std::unique_ptr<serial::Device> OpenDevice(int32_t port) override;

 private:
  std::map<int32_t, std::shared_ptr<FakeLine>> lines_;
};

}  // namespace tarvo::test
