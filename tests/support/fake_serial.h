// Installs a fake clock and a platform of fake lines for the lifetime of
// the object, and restores the real ones afterwards:
//
//   test::FakeSerial serial;
//   serial.line(1).SetPeer(...);
//   ... open port 1 (PortIndex 0), transfer, check serial.line(1).written()
//
// Lines a test leaves open stay in the library's registry; they keep their
// fake line alive and are never adopted by another test (tokens are unique).
#pragma once

#include <cstdint>

#include "support/fake_clock.h"
#include "support/fake_line.h"
#include "support/fake_platform.h"

namespace tarvo::test {

class FakeSerial {
 public:
  explicit FakeSerial(int64_t startMs = 0);
  ~FakeSerial();
  FakeSerial(const FakeSerial&) = delete;
  FakeSerial& operator=(const FakeSerial&) = delete;

  FakeClock& clock() { return clock_; }
  FakePlatform& platform() { return platform_; }
  FakeLine& line(int32_t port = 1) { return platform_.line(port); }

 private:
  FakeClock clock_;
  FakePlatform platform_;
};

}  // namespace tarvo::test
