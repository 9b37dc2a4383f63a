// The block read: "#" mm "8" CR asks the module for the records of all its
// present points at once.
#include <algorithm>
#include <cstring>

#include "driver/answer_loop.h"
#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5760/pxr5760.h"
#include "pxr5760/wire.h"
#include "serial/clock.h"

namespace tarvo {
namespace {
// After an answer from the wrong module, or none, the line is given time to
// settle before the next exchange.
constexpr uint32_t kBadAnswerPauseMs = 2000;
}  // namespace

bool CPxr5760::BlockRead(const pxr5760::ModuleState& state, uint8_t module, uint8_t* answer) {
  Port().Purge();
  const auto digits = pxr5760::AddressDigits(module);
  const uint8_t command[5] = {'#', digits[0], digits[1], '8', pxr5760::kCarriageReturn};
  if (!Port().ClearError()) return FailStep(ErrPortWrite);
  TraceHook("Read Send", command, sizeof command);
  if (!Port().Write(command, sizeof command, kCommandWriteTimeoutMs)) return FailStep(ErrPortWrite);

  uint32_t count = 0;
  const AnswerLoop loop{command, sizeof command, 0, "Read Send", "Read Receive"};
  const uint8_t head[3] = {'>', digits[0], digits[1]};
  size_t records = 0;
  for (const int32_t channelRecords : state.sensorCount)
    records += static_cast<size_t>(std::max(channelRecords, 0));
  switch (ReadAnswer(Port(), loop, RecordsReply(head, records), answer, pxr5760::kAnswerBufferSize,
                     &count)) {
    case AnswerStatus::kReadFailed:
      return FailStep(ErrPortRead);
    case AnswerStatus::kWriteFailed:
      return FailStep(ErrPortWrite);
    case AnswerStatus::kReceived:
    case AnswerStatus::kSilent:
      break;
  }
  if (answer[0] != '>' || answer[1] != digits[0] || answer[2] != digits[1]) {
    serial::CurrentClock().SleepMs(kBadAnswerPauseMs);
    return FailStep(ErrReadData);
  }
  return true;
}

}  // namespace tarvo
