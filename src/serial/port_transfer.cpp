// The transfer primitives of Port.
#include <algorithm>

#include "serial/clock.h"
#include "serial/device.h"
#include "serial/line.h"
#include "serial/port.h"

namespace tarvo::serial {
namespace {

uint32_t Milliseconds(int32_t ms) { return ms < 0 ? 0u : static_cast<uint32_t>(ms); }

bool ValidOutput(const uint8_t* bytes, int32_t count) {
  return count >= 0 && (bytes != nullptr || count == 0);
}

}  // namespace

bool Port::Write(const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
  if (line_ == nullptr || !ValidOutput(bytes, count)) return false;
  return line_->Use([&](Device& device) {
    // Nothing older than this command may be taken for its reply.
    device.Purge(kPurgeAll);
    return device.Write(bytes, static_cast<uint32_t>(count), Milliseconds(timeoutMs));
  });
}

bool Port::WriteNoPurge(const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
  if (line_ == nullptr || !ValidOutput(bytes, count)) return false;
  return line_->Use([&](Device& device) {
    return device.Write(bytes, static_cast<uint32_t>(count), Milliseconds(timeoutMs));
  });
}

bool Port::Read(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count) {
  // The module's time to answer: the wait comes first, even on a line that
  // turns out to be unusable.
  CurrentClock().SleepMs(Milliseconds(timeoutMs));
  return ReadNoSleep(buffer, capacity, timeoutMs, count);
}

bool Port::ReadNoSleep(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count) {
  if (line_ == nullptr || (buffer == nullptr && capacity > 0)) return false;
  return line_->Use([&](Device& device) {
    uint32_t queued = 0;
    if (!device.ClearError(&queued)) return false;
    // The queued count is a hint (some platforms report it wrong): never
    // read past the caller's buffer on its word.
    const uint32_t wanted =
        static_cast<uint32_t>(std::min<uint64_t>(queued, std::min<uint64_t>(capacity, UINT32_MAX)));
    uint32_t got = 0;
    if (!device.Read(buffer, wanted, &got, Milliseconds(timeoutMs))) return false;
    if (count != nullptr) *count = std::min(got, wanted);
    return true;
  });
}

void Port::Purge() {
  if (line_ != nullptr) line_->Use([](Device& device) { return device.Purge(kPurgeAll); });
}

void Port::PurgeInput() {
  if (line_ != nullptr) line_->Use([](Device& device) { return device.Purge(kPurgeReceive); });
}

bool Port::ClearError() {
  if (line_ == nullptr) return false;
  return line_->Use([](Device& device) {
    uint32_t queued = 0;
    return device.ClearError(&queued);
  });
}

}  // namespace tarvo::serial
