// The answer loop of the block-read and write exchanges: after a command
// has been sent, read up to three times, sending the command again after a
// read that found nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "serial/port.h"
#include "serial/reply_rule.h"

namespace tarvo {

enum class AnswerStatus {
  kReceived,     // bytes arrived; *count says how many
  kSilent,       // three reads found nothing; the buffer is all zeros
  kReadFailed,   // the line refused a read
  kWriteFailed,  // the line refused a repeated command
};

struct AnswerLoop {
  const uint8_t* command;
  int32_t commandLength;
  // Extra wait before each read, on top of the read's own settle time
  // (0 where the family has none).
  int32_t settleMs;
  const char* sendLabel;     // trace label of repeated commands
  const char* receiveLabel;  // trace label of each read
};

inline constexpr int32_t kCommandWriteTimeoutMs = 30;
inline constexpr int32_t kEmptyReadPauseMs = 500;
inline constexpr int kAnswerAttempts = 3;

// Runs the loop on port with the port's time-out: each read clears buffer
// (capacity bytes) first, so positions past the answer read as zeros; an
// empty read is followed by a 500 ms pause and, unless it was the third,
// the command again with a 30 ms write time-out. Never touches bytes
// outside buffer. whole tells an early-reply port when an answer is
// complete (Port::ReadReply); the default mode does not consult it.
AnswerStatus ReadAnswer(serial::Port& port, const AnswerLoop& loop, const serial::ReplyRule& whole,
                        uint8_t* buffer, size_t capacity, uint32_t* count);

}  // namespace tarvo
