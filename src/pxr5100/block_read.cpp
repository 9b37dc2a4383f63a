// The block read: "#" mm c CR asks channel c for the records of all its
// present points; the answer is ">" mm, two unexamined bytes, then 4 bytes
// per present point in ascending point order.
#include <cstdio>
#include <cstring>

#include "driver/answer_loop.h"
#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5100/pxr5100.h"
#include "serial/clock.h"

namespace tarvo {
namespace {
constexpr size_t kAnswerBufferSize = 2048;
constexpr size_t kFirstRecord = 5;
}  // namespace

bool Cpxr5100::BlockRead(pxr5100::ModuleState& state, uint8_t module, int channel) {
  // The gate counts whole seconds of a monotonic clock, so setting the wall
  // clock back cannot stall the reads.
  const int64_t now = serial::CurrentClock().NowSeconds();
  if (now - state.lastRefresh > 1) {
    state.refreshDue = true;
    state.lastRefresh = now;
  }
  if (!state.refreshDue) return FailStep(ErrDelayNotElapsed);
  state.refreshDue = false;

  Port().Purge();
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02x", module);
  const uint8_t command[5] = {'#', static_cast<uint8_t>(digits[0]), static_cast<uint8_t>(digits[1]),
                              static_cast<uint8_t>('0' + channel), 0x0D};
  if (!Port().ClearError()) return FailStep(ErrPortWrite);
  TraceHook("Read Send", command, sizeof command);
  if (!Port().Write(command, sizeof command, kCommandWriteTimeoutMs)) return FailStep(ErrPortWrite);

  uint8_t answer[kAnswerBufferSize];
  uint32_t count = 0;
  const AnswerLoop loop{command, sizeof command, Port().Timeout(), "Read Send", "Read Receive"};
  const uint8_t head[3] = {'>', command[1], command[2]};
  const size_t records = state.present[static_cast<size_t>(channel)].count();
  switch (ReadAnswer(Port(), loop, RecordsReply(head, records), answer, sizeof answer, &count)) {
    case AnswerStatus::kReadFailed:
      return FailStep(ErrPortRead);
    case AnswerStatus::kWriteFailed:
      return FailStep(ErrPortWrite);
    case AnswerStatus::kReceived:
    case AnswerStatus::kSilent:
      break;
  }
  if (answer[0] != '>' || answer[1] != command[1] || answer[2] != command[2])
    return FailStep(ErrReadData);

  // At most 64 records of 4 bytes follow the head, well inside the buffer;
  // records the answer did not carry read as the zeros the buffer was
  // cleared to.
  size_t position = kFirstRecord;
  const auto& present = state.present[static_cast<size_t>(channel)];
  auto& points = state.points[static_cast<size_t>(channel)];
  for (size_t point = 0; point < points.size(); ++point) {
    if (!present.test(point)) continue;
    std::memcpy(points[point].record.data(), answer + position, 4);
    points[point].fresh.set();
    position += 4;
  }
  return true;
}

}  // namespace tarvo
