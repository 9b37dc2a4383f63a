#include "driver/answer_loop.h"

#include <cstring>

#include "driver/trace.h"
#include "serial/clock.h"

namespace tarvo {

AnswerStatus ReadAnswer(serial::Port& port, const AnswerLoop& loop, const serial::ReplyRule& whole,
                        uint8_t* buffer, size_t capacity, uint32_t* count) {
  serial::Clock& clock = serial::CurrentClock();
  for (int attempt = 1;; ++attempt) {
    std::memset(buffer, 0, capacity);
    *count = 0;
    const bool read = port.ReadReply(buffer, capacity, loop.settleMs, port.Timeout(), whole, count);
    if (!read) return AnswerStatus::kReadFailed;
    TraceHook(loop.receiveLabel, buffer, static_cast<int32_t>(*count));
    if (*count > 0) return AnswerStatus::kReceived;
    clock.SleepMs(kEmptyReadPauseMs);
    if (attempt == kAnswerAttempts) return AnswerStatus::kSilent;
    TraceHook(loop.sendLabel, loop.command, loop.commandLength);
    if (!port.Write(loop.command, loop.commandLength, kCommandWriteTimeoutMs))
      return AnswerStatus::kWriteFailed;
  }
}

}  // namespace tarvo
