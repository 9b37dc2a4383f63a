// The serial line of one driver object: opening, adopting and closing it
// from the host's PortConfig, and the transfer primitives every protocol
// uses. Holds the object's line state (port number, rate, mode, time-out).
#pragma once

#include <cstddef>
#include <cstdint>

#include "tarvo/errors.h"
#include "tarvo/records.h"

namespace tarvo::serial {

class Port {
 public:
  Port() = default;
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // Opens the line config describes, or adopts config->SharedHandle.
  // Returns ErrOk or the code of the step that failed (10 to 14).
  DriverError Open(PortConfig* config);
  // Closes the line if the object has one; a no-op otherwise.
  void Close();
  bool IsOpen() const;

  // Transfer time-out in ms (100..2000, else 300) as OpenPort set it.
  int32_t Timeout() const { return timeout_; }
  void SetTimeout(int32_t ms) { timeout_ = ms; }

  // Purges both directions, then writes all count bytes within timeoutMs.
  bool Write(const uint8_t* bytes, int32_t count, int32_t timeoutMs);
  // Writes without the purge: input that arrived earlier stays queued.
  bool WriteNoPurge(const uint8_t* bytes, int32_t count, int32_t timeoutMs);
  // Sleeps timeoutMs, then reads what is queued, at most capacity bytes, into
  // buffer; *count receives the number read (0 when nothing came).
  bool Read(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count);
  // Read without the leading sleep.
  bool ReadNoSleep(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count);
  // Aborts pending transfers and empties both queues; result not reported.
  void Purge();
  // Discards only the input queue.
  void PurgeInput();
  // Clears the line's error state; false when the line is unusable.
  bool ClearError();

 private:
  int32_t timeout_ = 300;
};

}  // namespace tarvo::serial
