// The scan of a three-channel module. "$" AA "6" CR is answered with "!" AA,
// the channel mask as two digits of which only the low four bits count,
// and the record counts of channels 0, 1 and 2 as byte values. Channel 0
// then lists its points on "*" AA "0" CR. The points of channels 1 and 2
// are only known from a block answer ("#" AA "8" CR), whose records of
// those channels carry their point number, a signed byte, in the first
// byte.
#include "pxr530x/pxr5303.h"

#include <vector>

#include "sensors/conversions.h"
#include "serial/clock.h"

namespace tarvo {
namespace {

constexpr size_t kScanBufferBytes = 2048;
constexpr size_t kSummaryCounts = 5;  // byte of channel 0's count
constexpr size_t kSummaryLength = 8;  // "!" AA, two mask digits, three counts

using Command = std::array<uint8_t, 5>;

Command MakeCommand(char lead, uint8_t module, char last) {
  const auto digits = AddressDigits(module, HexCase::kUpper);
  return {static_cast<uint8_t>(lead), digits[0], digits[1], static_cast<uint8_t>(last),
          kCarriageReturn};
}

std::array<uint8_t, 3> AnswerHead(char lead, const Command& command) {
  return {static_cast<uint8_t>(lead), command[1], command[2]};
}

bool HasHead(std::span<const uint8_t> answer, char lead, const Command& command) {
  return answer[0] == static_cast<uint8_t>(lead) && answer[1] == command[1] &&
         answer[2] == command[2];
}

bool ScanSummary(readcycle::Driver& driver, readcycle::Module& state, uint8_t module,
                 int32_t timeoutMs) {
  serial::Port& port = driver.Port();
  serial::Clock& clock = serial::CurrentClock();
  std::vector<uint8_t> answer(kScanBufferBytes);
  uint32_t count = 0;

  const Command summary = MakeCommand('$', module, '6');
  if (!AskModule(port, summary, FixedReply(AnswerHead('!', summary), kSummaryLength), timeoutMs,
                 answer.data(), answer.size(), &count))
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
    if (!AskModule(port, list, PointListReply(AnswerHead('>', list)), timeoutMs, answer.data(),
                   answer.size(), &count))
      return false;
    if (!HasHead(answer, '>', list) || count < kPointListStart) return false;
    if (readcycle::ApplyPointList(state, 0, answer) < 0) return false;
  }

  port.Purge();
  if (!port.ClearError()) return false;
  clock.SleepMs(static_cast<uint32_t>(timeoutMs));
  const Command block = MakeCommand('#', module, '8');
  if (!AskModule(port, block, RecordsReply(AnswerHead('>', block), state.BlockRecords()), timeoutMs,
                 answer.data(), answer.size(), &count))
    return false;
  if (count == 0 || !HasHead(answer, '>', block)) return false;

  size_t channelStart = kFirstRecord + kRecordBytes * static_cast<size_t>(state.sensorCount[0]);
  for (int channel = 1; channel < state.channels(); ++channel) {
    const auto records = static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]);
    if (records != 0) {
      state.ClearChannel(channel);
      // A record the answer did not carry names no point.
      for (size_t i = 0; i < records; ++i) {
        const size_t at = channelStart + i * kRecordBytes;
        if (at >= count) break;
        readcycle::MarkPoint(state, channel, static_cast<int8_t>(answer[at]));
      }
    }
    channelStart += records * kRecordBytes;
  }
  return true;
}

}  // namespace

const readcycle::Traits CPxr5303::kTraits = {
    .registers = readcycle::kSensorRegisters,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSignMagnitudeChecked, 10},
               {sensors::ConvertHalvesChecked, 50}}},
    .channels = 3,
    .points = 16,
    .addressCase = HexCase::kUpper,
    .scan = ScanSummary,
    .silentChannel = SilentChannel::kEndsTheScan,
    .countsListedEntries = true,
    .blockReadPerChannel = false,
    .settleBeforeRead = false,
    // Lets a module that answered for another address, or garbage, fall
    // quiet before the next command.
    .wrongAnswerPauseMs = 2000,
    .fixedWaitMs = 0,
};

FamilyState<readcycle::Module>& CPxr5303::SharedTables() {
  static FamilyState<readcycle::Module> tables(readcycle::ModuleMaker(kTraits));
  return tables;
}

CPxr5303::CPxr5303() : readcycle::Driver(kTraits, SharedTables()) {}

}  // namespace tarvo
