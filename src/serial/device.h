// The device under a line: its settings and time-outs in the terms of the
// Windows communications API (which the POSIX layer emulates), the device
// itself, shaped like the handful of Windows communications calls the
// protocols need, the platform that opens devices, and which device a port
// number opens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tarvo::serial {

// Values as in the Windows DCB.
enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits : uint8_t { One = 0, OnePointFive = 1, Two = 2 };
enum class FlowControl : uint8_t { None, XonXoff, Hardware };

struct LineState {
  uint32_t baudRate = 0;  // bit/s
  uint8_t dataBits = 8;   // 5..8
  Parity parity = Parity::None;
  StopBits stopBits = StopBits::One;
  FlowControl flow = FlowControl::None;
  // DTR and RTS raised while the line is open (never toggled by transfers).
  bool dtrEnabled = false;
  bool rtsEnabled = false;

  bool operator==(const LineState&) const = default;
};

// All ones in a time-out field.
inline constexpr uint32_t kMaxTimeout = 0xFFFFFFFFu;

// Line time-outs in ms, as COMMTIMEOUTS. Interval and multiplier both
// kMaxTimeout with a constant above 0 make a read return at once with what
// is queued, or wait up to the constant for the first byte.
struct LineTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;

  bool operator==(const LineTimeouts&) const = default;
};

// One open serial device, shaped like the handful of Windows communications
// calls the protocols need. Implemented by the platform folders (win32/,
// posix/) and by the tests' fake line. A device is used by one thread at a
// time (the owning Line serialises access); every call returns at once or
// within the time-out it is given.
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
  // Waits until input is queued or timeoutMs has passed, whichever comes
  // first, and returns true; it may also return sooner with nothing queued.
  // False when the device has no such wait (the default: the caller then
  // looks again in steps of its clock) or cannot wait now (a hung-up line).
  virtual bool WaitForInput(uint32_t timeoutMs) {
    (void)timeoutMs;
    return false;
  }
  // Releases the OS device; no other call follows.
  virtual void Close() = 0;
};

// Where devices come from: the platform opens the device behind a port
// number. The system platform (win32/ or posix/, chosen by the build) is used
// unless a test installs its own.
class Platform {
 public:
  virtual ~Platform() = default;
  // Opens the device of port (any value; only 1..255 can exist) for
  // exclusive use, without configuring it. Null when it cannot be opened.
  virtual std::unique_ptr<Device> OpenDevice(int32_t port) = 0;
};

// The platform's own devices.
Platform& SystemPlatform();
// The platform the line uses: the system's unless a test installed one.
Platform& CurrentPlatform();
// Installs platform for the whole process (tests only); null restores the
// system platform. The caller keeps ownership and must outlive its use.
void SetPlatform(Platform* platform);

// Which device a port number opens. On Windows every port n is
// "\\.\COMn"; on POSIX systems port n is /dev/ttyS{n-1} unless the host
// mapped it with TarvoSetPortDevice.
inline constexpr int32_t kFirstPort = 1;
inline constexpr int32_t kLastPort = 255;

// Stores a device path for port (1..255); null or empty restores the
// default. Returns false for a port out of range or where ports cannot be
// mapped.
bool SetPortDevice(int32_t port, const char* path);
// The device path port opens.
std::string PortDevice(int32_t port);

}  // namespace tarvo::serial
