// The read cycle: a scan learns each channel's bus points ("*" mm c CR),
// and a block read ("#" mm "8" CR) fetches the records of all present
// points of the module at once: ">" mm, two unexamined bytes, then the
// channels' records in channel order, each channel's in ascending point
// order. Values of a record not yet handed out are served without traffic.
#include <algorithm>
#include <cstring>

#include "driver/address.h"
#include "driver/exchange.h"
#include "pxr5760/pxr5760.h"
#include "pxr5760/values.h"
#include "serial/clock.h"

namespace tarvo {
namespace {

constexpr int32_t kScanTimeoutMs = 100;
constexpr size_t kAnswerBufferSize = 2048;
constexpr size_t kFirstRecord = 5;
// Every channel contributes at most one record per point, so the records
// of the whole module always lie inside the buffer.
static_assert(kFirstRecord + pxr5760::kRecordSize * pxr5760::kChannels * pxr5760::kPoints <=
              kAnswerBufferSize);
// After an answer from the wrong module, or none, the line is given time to
// settle before the next exchange.
constexpr uint32_t kBadAnswerPauseMs = 2000;

// Each present point, in ascending order, takes the next record of its
// channel and gets fresh TA, HB and KT values, the LT and AD values of the
// sub-channel the record names, and all eight bits. Points not present keep
// their record and flags.
void Distribute(pxr5760::ModuleState& state, const uint8_t* answer) {
  using namespace pxr5760;
  size_t channelStart = kFirstRecord;
  for (size_t channel = 0; channel < kChannels; ++channel) {
    size_t position = channelStart;
    const auto& present = state.present[channel];
    auto& points = state.points[channel];
    for (size_t p = 0; p < kPoints; ++p) {
      if (!present.test(p)) continue;
      PointState& point = points[p];
      std::memcpy(point.record.data(), answer + position, kRecordSize);
      position += kRecordSize;
      const int sub = point.record[kRecordOutputByte] >> kRecordSubChannelShift;
      point.fresh.set(kFreshTa);
      point.fresh.set(kFreshHb);
      point.fresh.set(kFreshKt);
      point.fresh.set(static_cast<size_t>(kFreshAd + sub));
      point.fresh.set(static_cast<size_t>(kFreshLt + sub));
      for (size_t bit = 0; bit < kSubChannels; ++bit) point.fresh.set(kFreshBit + bit);
    }
    channelStart += kRecordSize * static_cast<size_t>(state.sensorCount[channel]);
  }
}

}  // namespace

int32_t CPxr5760::ReadItem(IoItem* item, IoValue* value) {
  using pxr5760::ExtractMode;
  using pxr5760::ExtractOutcome;
  // An item no value can come from is refused before it costs an exchange.
  if (item->RegisterIndex < pxr5760::kTa || item->RegisterIndex > pxr5760::kAd)
    return Fail(ErrReadData);
  if (!CheckItemNumbers(*item)) return 0;
  const auto module = static_cast<uint8_t>(item->ModuleAddress);

  pxr5760::ModuleState& state = SharedTables().At(module);
  if (!state.scanned) {
    if (!ScanModule(state, module)) return Fail(ErrInitModule);
    state.scanned = true;
  }

  pxr5760::PointState& point =
      state.points[static_cast<size_t>(item->Channel)][static_cast<size_t>(item->Point)];
  const int16_t reg = item->RegisterIndex;
  const int16_t sub = item->SubIndex;
  if (pxr5760::ExtractValue(point, reg, sub, ExtractMode::kPending, value) ==
      ExtractOutcome::kDelivered)
    return Succeed();

  if (!state.gate.Take(serial::CurrentClock().NowSeconds())) return Fail(ErrDelayNotElapsed);
  if (!BlockRead(state, module)) return 0;
  if (pxr5760::ExtractValue(point, reg, sub, ExtractMode::kAfterBlockRead, value) ==
      ExtractOutcome::kDelivered)
    return Succeed();
  return Fail(ErrReadData);
}

bool CPxr5760::ScanModule(pxr5760::ModuleState& state, uint8_t module) {
  // A later channel without a valid answer ends the scan with what the
  // earlier channels reported; it and the channels after it keep what they
  // held.
  return ScanPointLists(
      Port(), AddressDigits(module, HexCase::kLower), pxr5760::kChannels, kScanTimeoutMs,
      SilentChannel::kEndsTheScan, [&](int channel, std::span<const uint8_t> listed) {
        // The flags always equal the latest answer, and a
        // channel's record count is the number of its
        // present points: a point listed twice or beyond
        // the channel's 32 neither takes a record nor
        // shifts the others.
        auto& present = state.present[static_cast<size_t>(channel)];
        present.reset();
        for (const uint8_t point : listed)
          if (point < pxr5760::kPoints) present.set(point);
        state.sensorCount[static_cast<size_t>(channel)] = static_cast<int32_t>(present.count());
      });
}

bool CPxr5760::BlockRead(pxr5760::ModuleState& state, uint8_t module) {
  const auto digits = AddressDigits(module, HexCase::kLower);
  const std::array<uint8_t, 5> command = {'#', digits[0], digits[1], '8', kCarriageReturn};
  const std::array<uint8_t, 3> head = {'>', digits[0], digits[1]};
  size_t records = 0;
  for (const int32_t channelRecords : state.sensorCount)
    records += static_cast<size_t>(std::max(channelRecords, 0));
  const Exchange exchange{command, head,        RecordsReply(head, records),
                          0,       "Read Send", "Read Receive"};
  uint8_t answer[kAnswerBufferSize];
  uint32_t count = 0;
  if (!BlockReadExchange(*this, exchange, kBadAnswerPauseMs, answer, sizeof answer, &count))
    return false;
  Distribute(state, answer);
  return true;
}

}  // namespace tarvo
