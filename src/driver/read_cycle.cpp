#include "driver/read_cycle.h"

#include <algorithm>

#include "serial/clock.h"

namespace tarvo::readcycle {
namespace {
constexpr int32_t kScanTimeoutMs = 100;

// The listed points replace the channel's present flags. They equal the
// latest list: a stale mark would shift the records of every later point
// of the channel in a block read.
void TakeList(Module& state, int channel, std::span<const uint8_t> listed) {
  state.ClearChannel(channel);
  for (const uint8_t point : listed) MarkPoint(state, channel, point);
}

int PresentPoints(Module& state, int channel) {
  int present = 0;
  for (int point = 0; point < state.points(); ++point) present += state.At(channel, point).present;
  return present;
}

// The records of one channel, from byte start of the answer on.
void DistributeChannel(Module& state, int channel, size_t start, std::span<const uint8_t> answer) {
  const auto count = static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]);
  size_t position = start;
  size_t taken = 0;
  for (int p = 0; p < state.points(); ++p) {
    PointRecord& point = state.At(channel, p);
    if (!point.present) continue;
    if (taken == count) break;
    // A record the answer did not carry whole (cut short, or beyond the
    // buffer) is not stored: its point has nothing fresh to deliver.
    if (position + kRecordBytes > answer.size()) break;
    std::copy_n(answer.begin() + static_cast<ptrdiff_t>(position), kRecordBytes,
                point.record.begin());
    point.fresh |= state.FlagsOf(point.record);
    position += kRecordBytes;
    ++taken;
  }
}

// The register kinds' step: flag k-1 and kinds[k-1] for register index k.
ExtractOutcome ExtractKind(const Traits& traits, PointRecord& record, const IoItem& item,
                           ExtractMode mode, IoValue* value) {
  // The point its ModuleMaker made.
  auto& point = static_cast<PointState&>(record);
  const int kind = item.RegisterIndex;
  const bool known = kind >= 1 && static_cast<size_t>(kind) <= traits.registers.size();
  const auto index = static_cast<size_t>(kind - 1);
  if (!known || !point.fresh.test(index))
    return mode == ExtractMode::kPending ? ExtractOutcome::kNothingFresh
                                         : ExtractOutcome::kReadData;
  const RegisterKind& conversion = traits.kinds[index];
  // A rejected record is used up too: the next read fetches a new one.
  point.fresh.reset(index);
  float converted = 0.0f;
  if (!conversion.convert(point.record.data(), &converted)) return ExtractOutcome::kReadData;
  value->AnalogValue =
      sensors::ApplyOutlierFilter(&point.filters[index], converted, conversion.threshold);
  return ExtractOutcome::kDelivered;
}

}  // namespace

Module::Module(int channels, int points, int64_t now, int kinds, RecordFlags recordFlags)
    : gate(now),
      sensorCount(static_cast<size_t>(channels), 0),
      points_(points),
      allKinds_((1u << kinds) - 1),
      recordFlags_(recordFlags) {}

size_t Module::BlockRecords() const {
  size_t records = 0;
  for (const int32_t count : sensorCount) records += static_cast<size_t>(std::max(count, 0));
  return records;
}

void Module::ClearChannel(int channel) {
  for (int point = 0; point < points_; ++point) At(channel, point).present = false;
}

void MarkPoint(Module& state, int channel, int point) {
  if (point < 0 || point >= state.points()) return;
  state.At(channel, point).present = true;
}

int ApplyPointList(Module& state, int channel, std::span<const uint8_t> answer) {
  std::span<const uint8_t> listed;
  if (!ListedPoints(answer, &listed)) return -1;
  TakeList(state, channel, listed);
  return static_cast<int>(listed.size());
}

void DistributeRecords(Module& state, std::span<const uint8_t> answer) {
  size_t channelStart = kFirstRecord;
  for (int channel = 0; channel < state.channels(); ++channel) {
    DistributeChannel(state, channel, channelStart, answer);
    channelStart +=
        static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]) * kRecordBytes;
  }
}

Driver::Driver(const Traits& traits, FamilyState<Module>& tables)
    : DriverBase(traits.registers), traits_(traits), states_(tables) {
  tables.Reset(serial::CurrentClock().NowSeconds());
}

int32_t Driver::ParseItem(const char* address, IoItem* item) {
  return ParseSensorItem(
      *this, address, item,
      {static_cast<int16_t>(traits_.channels - 1), static_cast<int16_t>(traits_.points - 1)});
}

int32_t Driver::WriteItem(IoItem*, IoValue*) { return Succeed(); }

bool Driver::CheckItem(const IoItem& item) {
  // The tables are indexed by these numbers: refuse what ParseItem could
  // not have produced before touching anything.
  if (item.ModuleAddress < 0 || item.ModuleAddress >= kModules) return FailStep(ErrModuleAddress);
  if (item.Channel < 0 || item.Channel >= traits_.channels) return FailStep(ErrChannel);
  if (item.Point < 0 || item.Point >= traits_.points) return FailStep(ErrPointNumber);
  const DriverError code = traits_.checkItem != nullptr ? traits_.checkItem(item) : ErrOk;
  return code == ErrOk || FailStep(code);
}

int32_t Driver::ReadItem(IoItem* item, IoValue* value) {
  if (!CheckItem(*item)) return 0;
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const Extract extract = traits_.extract != nullptr ? traits_.extract : ExtractKind;

  Module& state = State(module);
  if (!state.scanned) {
    if (!ScanModule(state, module)) return Fail(ErrInitModule);
    state.scanned = true;
  }

  PointRecord& point = state.At(item->Channel, item->Point);
  switch (extract(traits_, point, *item, ExtractMode::kPending, value)) {
    case ExtractOutcome::kDelivered:
      return Succeed();
    case ExtractOutcome::kReadData:
      return Fail(ErrReadData);
    case ExtractOutcome::kNothingFresh:
      break;
  }

  if (!PaceBlockRead(state) || !BlockRead(state, module, item->Channel)) return 0;
  // No sensor at this point, no record for it, or no such value.
  if (extract(traits_, point, *item, ExtractMode::kAfterBlockRead, value) !=
      ExtractOutcome::kDelivered)
    return Fail(ErrReadData);
  return Succeed();
}

bool Driver::ScanModule(Module& state, uint8_t module) {
  if (traits_.scan != nullptr) return traits_.scan(*this, state, module, kScanTimeoutMs);
  return ScanPointLists(Port(), AddressDigits(module, traits_.addressCase), traits_.channels,
                        kScanTimeoutMs, traits_.silentChannel,
                        [&](int channel, std::span<const uint8_t> listed) {
                          TakeList(state, channel, listed);
                          state.sensorCount[static_cast<size_t>(channel)] =
                              traits_.countsListedEntries ? static_cast<int32_t>(listed.size())
                                                          : PresentPoints(state, channel);
                        });
}

bool Driver::PaceBlockRead(Module& state) {
  serial::Clock& clock = serial::CurrentClock();
  if (traits_.fixedWaitMs > 0) {
    clock.SleepMs(traits_.fixedWaitMs);
    return true;
  }
  if (!state.gate.Take(clock.NowSeconds())) return FailStep(ErrDelayNotElapsed);
  return true;
}

bool Driver::BlockRead(Module& state, uint8_t module, int channel) {
  const auto digits = AddressDigits(module, traits_.addressCase);
  const uint8_t scope =
      traits_.blockReadPerChannel ? static_cast<uint8_t>('0' + channel) : static_cast<uint8_t>('8');
  const std::array<uint8_t, 5> command = {'#', digits[0], digits[1], scope, kCarriageReturn};
  const std::array<uint8_t, 3> head = {'>', digits[0], digits[1]};
  const size_t records = traits_.blockReadPerChannel
                             ? static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)])
                             : state.BlockRecords();
  const Exchange exchange{command,
                          head,
                          RecordsReply(head, records),
                          traits_.settleBeforeRead ? Port().Timeout() : 0,
                          "Read Send",
                          "Read Receive"};
  uint8_t buffer[kAnswerBufferBytes];
  uint32_t count = 0;
  if (!BlockReadExchange(*this, exchange, traits_.wrongAnswerPauseMs, buffer, sizeof buffer,
                         &count))
    return false;
  const std::span<const uint8_t> answer(buffer, count);
  if (traits_.blockReadPerChannel)
    DistributeChannel(state, channel, kFirstRecord, answer);
  else
    DistributeRecords(state, answer);
  return true;
}

}  // namespace tarvo::readcycle
