#include "driver/sensor_module.h"

#include <algorithm>

#include "serial/clock.h"

namespace tarvo::sensor {
namespace {
constexpr int32_t kScanTimeoutMs = 100;

// The listed points replace the channel's present flags. They equal the
// latest list: a stale mark would shift the records of every later point
// of the channel in a block read.
void TakeList(ModuleState& state, int channel, std::span<const uint8_t> listed) {
  for (PointState& point : state.Channel(channel)) point.present = false;
  for (const uint8_t point : listed) MarkPoint(state, channel, point);
}

}  // namespace

ModuleState::ModuleState(int channels, int points, int64_t now, int kinds)
    : gate(now),
      sensorCount(static_cast<size_t>(channels), 0),
      points_(points),
      slots_(static_cast<size_t>(channels) * static_cast<size_t>(points)),
      allKinds((1u << kinds) - 1) {}

std::span<PointState> ModuleState::Channel(int channel) {
  const auto width = static_cast<size_t>(points_);
  return std::span<PointState>(slots_).subspan(static_cast<size_t>(channel) * width, width);
}

size_t ModuleState::BlockRecords() const {
  size_t records = 0;
  for (const int32_t count : sensorCount) records += static_cast<size_t>(std::max(count, 0));
  return records;
}

void MarkPoint(ModuleState& state, int channel, int point) {
  const std::span<PointState> points = state.Channel(channel);
  if (point < 0 || static_cast<size_t>(point) >= points.size()) return;
  points[static_cast<size_t>(point)].present = true;
}

int ApplyPointList(ModuleState& state, int channel, std::span<const uint8_t> answer) {
  std::span<const uint8_t> listed;
  if (!ListedPoints(answer, &listed)) return -1;
  TakeList(state, channel, listed);
  return static_cast<int>(listed.size());
}

namespace {

// The records of one channel, from byte start of the answer on.
void DistributeChannel(ModuleState& state, int channel, size_t start,
                       std::span<const uint8_t> answer) {
  const auto count = static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]);
  size_t position = start;
  size_t taken = 0;
  for (PointState& point : state.Channel(channel)) {
    if (!point.present) continue;
    if (taken == count) break;
    // A record the answer did not carry whole (cut short, or beyond the
    // buffer) is not stored: its point has nothing fresh to deliver.
    if (position + kRecordBytes > answer.size()) break;
    std::copy_n(answer.begin() + static_cast<ptrdiff_t>(position), kRecordBytes,
                point.record.begin());
    point.fresh |= state.allKinds;
    position += kRecordBytes;
    ++taken;
  }
}

}  // namespace

void DistributeRecords(ModuleState& state, std::span<const uint8_t> answer) {
  size_t channelStart = kFirstRecord;
  for (int channel = 0; channel < state.channels(); ++channel) {
    DistributeChannel(state, channel, channelStart, answer);
    channelStart +=
        static_cast<size_t>(state.sensorCount[static_cast<size_t>(channel)]) * kRecordBytes;
  }
}

std::function<std::unique_ptr<ModuleState>()> ModuleMaker(const Traits& traits) {
  return [&traits] {
    return std::make_unique<ModuleState>(traits.channels, traits.points, 0,
                                         static_cast<int>(traits.registers.size()));
  };
}

Driver::Driver(const Traits& traits, FamilyState<ModuleState>& tables)
    : DriverBase(traits.registers), traits_(traits), states_(tables) {
  tables.Reset(serial::CurrentClock().NowSeconds());
}

int32_t Driver::ParseItem(const char* address, IoItem* item) {
  return ParseSensorItem(
      *this, address, item,
      {static_cast<int16_t>(traits_.channels - 1), static_cast<int16_t>(traits_.points - 1)});
}

int32_t Driver::WriteItem(IoItem*, IoValue*) { return Succeed(); }

int32_t Driver::ReadItem(IoItem* item, IoValue* value) {
  // The tables are indexed by these numbers: refuse what ParseItem could
  // not have produced before touching anything.
  if (item->ModuleAddress < 0 || item->ModuleAddress >= kModules) return Fail(ErrModuleAddress);
  if (item->Channel < 0 || item->Channel >= traits_.channels) return Fail(ErrChannel);
  if (item->Point < 0 || item->Point >= traits_.points) return Fail(ErrPointNumber);
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const int kind = item->RegisterIndex;
  const bool knownKind = kind >= 1 && static_cast<size_t>(kind) <= traits_.registers.size();

  ModuleState& state = states_.At(Port().LinePort(), module);
  if (!state.scanned) {
    if (!ScanModule(state, module)) return Fail(ErrInitModule);
    state.scanned = true;
  }

  PointState& point = state.Point(item->Channel, item->Point);
  if (knownKind && point.fresh.test(static_cast<size_t>(kind - 1)))
    return Deliver(point, kind, value);

  if (!PaceBlockRead(state) || !BlockRead(state, module, item->Channel)) return 0;
  // No sensor at this point, no record for it, or no such register.
  if (!knownKind || !point.fresh.test(static_cast<size_t>(kind - 1))) return Fail(ErrReadData);
  return Deliver(point, kind, value);
}

bool Driver::ScanModule(ModuleState& state, uint8_t module) {
  if (traits_.scan != nullptr) return traits_.scan(*this, state, module, kScanTimeoutMs);
  return ScanPointLists(
      Port(), AddressDigits(module, traits_.addressCase), traits_.channels, kScanTimeoutMs,
      traits_.silentChannel, [&](int channel, std::span<const uint8_t> listed) {
        TakeList(state, channel, listed);
        const std::span<PointState> points = state.Channel(channel);
        const auto present = std::count_if(points.begin(), points.end(),
                                           [](const PointState& p) { return p.present; });
        state.sensorCount[static_cast<size_t>(channel)] = static_cast<int32_t>(
            traits_.countsListedEntries ? static_cast<ptrdiff_t>(listed.size()) : present);
      });
}

bool Driver::PaceBlockRead(ModuleState& state) {
  serial::Clock& clock = serial::CurrentClock();
  if (traits_.fixedWaitMs > 0) {
    clock.SleepMs(traits_.fixedWaitMs);
    return true;
  }
  if (!state.gate.Take(clock.NowSeconds())) return FailStep(ErrDelayNotElapsed);
  return true;
}

bool Driver::BlockRead(ModuleState& state, uint8_t module, int channel) {
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

int32_t Driver::Deliver(PointState& point, int kind, IoValue* value) {
  const auto index = static_cast<size_t>(kind - 1);
  const RegisterKind& conversion = traits_.kinds[index];
  // A rejected record is used up too: the next read fetches a new one.
  point.fresh.reset(index);
  float converted = 0.0f;
  if (!conversion.convert(point.record.data(), &converted)) return Fail(ErrReadData);
  value->AnalogValue =
      sensors::ApplyOutlierFilter(&point.filters[index], converted, conversion.threshold);
  return Succeed();
}

}  // namespace tarvo::sensor
