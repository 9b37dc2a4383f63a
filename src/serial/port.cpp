#include "serial/port.h"

namespace tarvo::serial {

// The line is not wired yet: every open fails as a device that cannot be
// opened, and every transfer fails.
DriverError Port::Open(PortConfig*) { return ErrCreatePort; }
void Port::Close() {}
bool Port::IsOpen() const { return false; }
bool Port::Write(const uint8_t*, int32_t, int32_t) { return false; }
bool Port::WriteNoPurge(const uint8_t*, int32_t, int32_t) { return false; }
bool Port::Read(uint8_t*, size_t, int32_t, uint32_t*) { return false; }
bool Port::ReadNoSleep(uint8_t*, size_t, int32_t, uint32_t*) { return false; }
void Port::Purge() {}
void Port::PurgeInput() {}
bool Port::ClearError() { return false; }

}  // namespace tarvo::serial
