// The settings and time-outs of an open line, in the terms of the Windows
// communications API (which the POSIX layer emulates): what a device reports,
// what a mode string builds, and what is applied to the device.
#pragma once

#include <cstdint>

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

}  // namespace tarvo::serial
