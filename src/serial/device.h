// One open serial device, shaped like the handful of Windows communications
// calls the protocols need. Implemented by the platform folders (win32/,
// posix/) and by the tests' fake line. A device is used by one thread at a
// time (the owning Line serialises access); every call returns at once or
// within the time-out it is given.
#pragma once

#include <cstdint>

#include "serial/line_state.h"

namespace tarvo::serial {

// Purge flags, as PurgeComm's.
inline constexpr uint32_t kPurgeTxAbort = 0x1;
inline constexpr uint32_t kPurgeRxAbort = 0x2;
inline constexpr uint32_t kPurgeTxClear = 0x4;
inline constexpr uint32_t kPurgeRxClear = 0x8;
inline constexpr uint32_t kPurgeAll = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;
inline constexpr uint32_t kPurgeReceive = kPurgeRxAbort | kPurgeRxClear;

class Device {
 public:
  virtual ~Device() = default;

  virtual bool SetTimeouts(const LineTimeouts& timeouts) = 0;
  // Reads the device's current settings into *state.
  virtual bool GetState(LineState* state) = 0;
  // Parses a mode string ("COM1:9600,n,8,1,") into *state: the fields the
  // text names change, the others keep their values. The device is not
  // touched. False when the text is not a valid mode string.
  virtual bool BuildState(const char* mode, LineState* state) = 0;
  // Applies state to the device.
  virtual bool SetState(const LineState& state) = 0;
  // Requests queue sizes in bytes; a hint the platform may ignore.
  virtual bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes) = 0;
  // Aborts transfers and discards queued bytes as flags (kPurge*) say.
  virtual bool Purge(uint32_t flags) = 0;
  // Clears the line's error state; *queued receives the number of bytes
  // waiting in the input queue. False when the device is unusable.
  virtual bool ClearError(uint32_t* queued) = 0;
  // Writes all count bytes within timeoutMs. False when any byte is not
  // written by then (the rest is cancelled) or the device fails. Returns only
  // once the device no longer reads from bytes.
  virtual bool Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs) = 0;
  // Reads at most count bytes of what is queued into buffer; *got receives
  // the number read (possibly 0). Returns only once the device no longer
  // writes to buffer or *got; on false *got is not written.
  virtual bool Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t timeoutMs) = 0;
  // Releases the OS device; no other call follows.
  virtual void Close() = 0;
};

}  // namespace tarvo::serial
