// The block read: "#" AA "8" CR is answered with ">" AA, two unexamined
// bytes, then the 4-byte records of every channel in ascending channel
// order, as many per channel as the scan's count, belonging to the
// channel's present points in ascending point order.
#include "driver/answer_loop.h"
#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr530x/point_marks.h"
#include "pxr530x/sensor_module_driver.h"
#include "serial/clock.h"

namespace tarvo::pxr530x {
namespace {
constexpr size_t kAnswerBufferBytes = 2048;
// Lets a module that answered for another address, or garbage, fall quiet
// before the next command.
constexpr uint32_t kWrongAnswerPauseMs = 2000;
}  // namespace

bool SensorModuleDriver::BlockRead(ModuleState& state, uint8_t module) {
  Port().Purge();
  if (!Port().ClearError()) return FailStep(ErrPortWrite);
  const Command command = MakeCommand('#', module, '8');
  TraceHook("Read Send", command.data(), static_cast<int32_t>(command.size()));
  if (!Port().Write(command.data(), static_cast<int32_t>(command.size()), kCommandWriteTimeoutMs))
    return FailStep(ErrPortWrite);

  uint8_t answer[kAnswerBufferBytes];
  uint32_t count = 0;
  const AnswerLoop loop{command.data(), static_cast<int32_t>(command.size()), 0, "Read Send",
                        "Read Receive"};
  const serial::ReplyRule whole = RecordsReply(AnswerHead('>', command), state.BlockRecords());
  switch (ReadAnswer(Port(), loop, whole, answer, sizeof answer, &count)) {
    case AnswerStatus::kReadFailed:
      return FailStep(ErrPortRead);
    case AnswerStatus::kWriteFailed:
      return FailStep(ErrPortWrite);
    case AnswerStatus::kReceived:
    case AnswerStatus::kSilent:
      break;
  }
  if (!HasHead(answer, '>', command)) {
    serial::CurrentClock().SleepMs(kWrongAnswerPauseMs);
    return FailStep(ErrReadData);
  }
  // The whole cleared buffer, not just what arrived: records the answer
  // did not carry read as zeros.
  DistributeRecords(state, answer);
  return true;
}

}  // namespace tarvo::pxr530x
