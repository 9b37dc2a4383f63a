// The serial line of one driver object: opening, adopting and closing it
// from the host's PortConfig, and the transfer primitives every protocol
// uses. Holds the object's line state (port number, rate, mode, time-out).
//
// Lines are shared: the first Open on a PortConfig opens the device and
// publishes a token for it in SharedHandle; later Opens with that record
// adopt the same line. Close closes the line for every object that holds
// it; their transfers fail from then on. All waits go through the clock
// (serial/clock.h); a transfer never outlives its call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "serial/device.h"
#include "tarvo/records.h"

namespace tarvo::serial {

// The rule has not seen enough bytes to know the length yet.
inline constexpr size_t kReplyLengthUnknown = 0;
// The bytes so far cannot start the expected answer (a wrong head, say): it
// will never be whole, so the read takes the default mode's time.
inline constexpr size_t kReplyNeverWhole = SIZE_MAX;

// Given the bytes received so far (possibly none), returns the whole
// answer's length in bytes, kReplyLengthUnknown or kReplyNeverWhole. Must
// look at no byte beyond the span. An empty rule means "never known".
using ReplyRule = std::function<size_t(std::span<const uint8_t> received)>;

// The serial line of one driver object: opening, adopting and closing it
// from the host's PortConfig, and the transfer primitives every protocol
// uses. Holds the object's line state (port number, rate, mode, time-out).
//
// Lines are shared: the first Open on a PortConfig opens the device and
// publishes a token for it in SharedHandle; later Opens with that record
// adopt the same line. Close closes the line for every object that holds
// it; their transfers fail from then on. All waits go through the clock
// (serial/clock.h); a transfer never outlives its call.
class Line;

// What opening a line came to, step by step.
enum class OpenResult {
  kOpened,          // opened or adopted
  kNoDevice,        // no settings, or the device cannot be opened
  kTimeoutsFailed,  // the device refused the time-outs
  kStateFailed,     // the device's settings could not be read
  kModeRejected,    // the mode string is not valid
  kStateRejected,   // the device refused the settings
};

// The step in which an early-reply read looks for more of its answer on a
// device that cannot wait for input.
inline constexpr uint32_t kReplyPollMs = 1;

class Port {
 public:
  Port();
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // Opens the line config describes, or adopts config->SharedHandle when it
  // names a line that is still open. Returns kOpened or the step that
  // failed. On failure the object has no line
  // and SharedHandle is unchanged. The time-out is taken from the text in
  // every case.
  OpenResult Open(PortConfig* config);
  // Closes the object's line, also for the other objects that share it; a
  // no-op when the object has none.
  void Close();
  // True while the object holds a line that has not been closed.
  bool IsOpen() const;
  // The port number of the object's line, opened or adopted, closed since
  // or not; 0 before the object first had one. What the drivers keep per
  // line is kept under this number.
  int32_t LinePort() const { return linePort_; }

  // Transfer time-out in ms (100..2000, else 300) as OpenPort set it.
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t ms) { timeout_ = ms; }
  // True when the time-out text asked for early replies ("300,early"), as
  // the last Open read it; see ReadReply.
  bool EarlyReplies() const { return early_; }
  void SetEarlyReplies(bool early) { early_ = early; }

  // Port number, rate (9600 until a device open sets it) and the host's
  // RTS/DTR mode word of the last device open; an adopted line changes none.
  int32_t PortNumber() const { return portNumber_; }
  int32_t BaudRate() const { return baudRate_; }
  int32_t LineMode() const { return lineMode_; }
  // The time-outs and settings the last device open gave its line.
  const LineTimeouts& Timeouts() const { return timeouts_; }
  const LineState& State() const { return state_; }

  // Transfers fail when the object has no open line (a read after its
  // sleep). Negative time-outs count as 0.

  // Purges both directions, then writes all count bytes within timeoutMs.
  // Not all bytes written in time is a failure.
  bool Write(const uint8_t* bytes, int32_t count, int32_t timeoutMs);
  // Writes without the purge: input that arrived earlier stays queued.
  bool WriteNoPurge(const uint8_t* bytes, int32_t count, int32_t timeoutMs);
  // Sleeps timeoutMs, then reads what is queued, at most capacity bytes, into
  // buffer; *count receives the number read (0 when nothing came). Bytes
  // beyond capacity stay queued. On failure *count is not written.
  bool Read(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count);
  // Read without the leading sleep.
  bool ReadNoSleep(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count);
  // The wait for the answer to a command, then its read. Default mode:
  // sleeps settleMs (when above 0), then Read with timeoutMs; whole is not
  // consulted, and the clock and device see exactly those calls.
  // Early-reply mode: the same total wait (settleMs + timeoutMs, negatives
  // as 0) passes waiting on the device for input (in steps of kReplyPollMs
  // of the clock where it cannot wait), taking what has arrived after each
  // wait, and ends as soon as whole says the bytes taken form the whole
  // answer. Once an answer of known length has begun, its missing bytes'
  // time on the wire at the line's rate (10 bits a byte, whole ms) is
  // slept, once, before the next look. An answer that is not whole by then (never
  // whole, a length beyond capacity, or too late) ends at the default mode's
  // time with the default mode's bytes: all that arrived, at most capacity.
  // On a line that fails, returns false at that time as well; buffer may
  // then hold bytes taken before the failure and *count is not written.
  bool ReadReply(uint8_t* buffer, size_t capacity, int32_t settleMs, int32_t timeoutMs,
                 const ReplyRule& whole, uint32_t* count);
  // Aborts pending transfers and empties both queues; result not reported.
  void Purge();
  // Discards only the input queue.
  void PurgeInput();
  // Clears the line's error state; false when the line is unusable.
  bool ClearError();

 private:
  OpenResult OpenDevice(PortConfig* config);

  bool ReadEarly(uint8_t* buffer, size_t capacity, int32_t waitMs, int32_t timeoutMs,
                 const ReplyRule& whole, uint32_t* count);

  int32_t timeout_ = 300;
  bool early_ = false;
  int32_t portNumber_ = 0;
  int32_t baudRate_ = 9600;
  int32_t lineMode_ = 0;
  LineTimeouts timeouts_;
  LineState state_;
  std::shared_ptr<Line> line_;
  int32_t linePort_ = 0;
};

}  // namespace tarvo::serial
