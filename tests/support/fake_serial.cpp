#include "support/fake_serial.h"

#include "serial/clock.h"
#include "serial/device.h"

namespace tarvo::test {

FakeSerial::FakeSerial(int64_t startMs) : clock_(startMs) {
  serial::SetClock(&clock_);
  serial::SetPlatform(&platform_);
}

FakeSerial::~FakeSerial() {
  serial::SetPlatform(nullptr);
  serial::SetClock(nullptr);
}

}  // namespace tarvo::test
