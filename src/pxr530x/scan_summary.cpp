// The scan of a three-channel module. "$" AA "6" CR is answered with "!" AA,
// the channel mask as two digits of which only the low four bits count,
// and the record counts of channels 0, 1 and 2 as byte values. Channel 0
// then lists its points on "*" AA "0" CR. The points of channels 1 and 2
// are only known from a block answer ("#" AA "8" CR), whose records of
// those channels carry their point number, a signed byte, in the first
// byte.
#include <vector>

#include "driver/reply_rules.h"
#include "pxr530x/point_marks.h"
#include "pxr530x/sensor_module_driver.h"
#include "serial/clock.h"

namespace tarvo::pxr530x {
namespace {
constexpr size_t kSummaryCounts = 5;  // byte of channel 0's count
constexpr size_t kSummaryLength = 8;  // "!" AA, two mask digits, three counts
}  // namespace

bool SensorModuleDriver::ScanSummary(ModuleState& state, uint8_t module, int32_t timeoutMs) {
  serial::Clock& clock = serial::CurrentClock();
  std::vector<uint8_t> answer(traits_.scanBufferBytes);
  uint32_t count = 0;

  const Command summary = MakeCommand('$', module, '6');
  if (!Ask(summary, FixedReply(AnswerHead('!', summary), kSummaryLength), timeoutMs, answer.data(),
           answer.size(), &count))
    return false;
  // A summary cut short would read as channels without sensors, and the
  // module would stay scanned that way.
  if (!HasHead(answer, '!', summary) || count < kSummaryLength) return false;
  const int mask = (answer[3] & 0x0F) * 16 + (answer[4] & 0x0F);
  for (int channel = 0; channel < state.channels(); ++channel) {
    const bool used = ((mask >> channel) & 1) != 0;
    state.sensorCount[static_cast<size_t>(channel)] =
        used ? answer[kSummaryCounts + static_cast<size_t>(channel)] : 0;
  }

  if (state.sensorCount[0] != 0) {
    clock.SleepMs(static_cast<uint32_t>(timeoutMs));
    const Command list = MakeCommand('*', module, '0');
    if (!Ask(list, PointListReply(AnswerHead('>', list)), timeoutMs, answer.data(), answer.size(),
             &count))
      return false;
    if (!HasHead(answer, '>', list) || count < kPointListStart) return false;
    if (ApplyPointList(state, 0, answer) < 0) return false;
  }

  Port().Purge();
  if (!Port().ClearError()) return false;
  clock.SleepMs(static_cast<uint32_t>(timeoutMs));
  const Command block = MakeCommand('#', module, '8');
  if (!Ask(block, RecordsReply(AnswerHead('>', block), state.BlockRecords()), timeoutMs,
           answer.data(), answer.size(), &count))
    return false;
  if (count == 0 || !HasHead(answer, '>', block)) return false;

  size_t channelStart = kFirstRecord + kRecordBytes * static_cast<size_t>(state.sensorCount[0]);
  for (int channel = 1; channel < state.channels(); ++channel) {
    const auto records = static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]);
    if (records != 0) {
      for (PointState& point : state.Channel(channel)) point.present = false;
      // A record the answer did not carry names no point.
      for (size_t i = 0; i < records; ++i) {
        const size_t at = channelStart + i * kRecordBytes;
        if (at >= count) break;
        MarkPoint(state, channel, static_cast<int8_t>(answer[at]));
      }
    }
    channelStart += records * kRecordBytes;
  }
  return true;
}

}  // namespace tarvo::pxr530x
