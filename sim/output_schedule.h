// The bytes a line owes the driver and when each may go: answer chunks
// become due their delay after the command, and at a baud rate each byte
// takes 10 bit times (start, 8 data, stop) after the one before. Times are
// microseconds of any monotonic clock. A real-time server asks it what to
// write now and how long it may sleep.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "sim/bytes.h"
#include "sim/chunk.h"

namespace tarvo::sim {

class OutputSchedule {
 public:
  // baud 0: no pacing, a chunk goes at once when due.
  explicit OutputSchedule(int baud = 0);

  // Schedules chunks of a command whose last byte arrived at `nowUs`.
  // Chunks go in order of their due time; equal times keep their order, and
  // a chunk partly sent is finished before any other.
  void Add(const std::vector<Chunk>& chunks, int64_t nowUs);

  // The bytes whose time has come by `nowUs`, in order; removes them.
  Bytes Take(int64_t nowUs);
  // Gives back the tail of what Take returned that could not be written;
  // it goes first next time, and the line is not counted as busy for it.
  void PutBack(Bytes unsent, int64_t nowUs);

  // When the next byte may go, or nothing when all is sent.
  std::optional<int64_t> NextUs() const;
  // When the last byte of the chunk going next may go: a server that wakes
  // in longer steps than a byte's time wakes then too, so that the answer
  // ends on time. Nothing when all is sent.
  std::optional<int64_t> NextChunkEndUs() const;
  bool empty() const { return queue_.empty(); }
  void Clear() {
    queue_.clear();
    frontStarted_ = false;
  }

 private:
  struct Pending {
    int64_t dueUs;
    Bytes bytes;
  };

  int64_t byteUs_;
  int64_t lineFreeUs_ = 0;     // when the last byte handed out has left the line
  bool frontStarted_ = false;  // part of the front chunk has gone
  std::deque<Pending> queue_;
};

}  // namespace tarvo::sim
