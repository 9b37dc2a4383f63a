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
// The records of every point of a module fit; lists that name points twice
// or beyond a channel's 32 can claim more, and those records are cut off.
static_assert(kFirstRecord + pxr5760::kRecordSize * pxr5760::kChannels * pxr5760::kPoints <=
              kAnswerBufferSize);
// After an answer from the wrong module, or none, the line is given time to
// settle before the next exchange.
constexpr uint32_t kBadAnswerPauseMs = 2000;

// The records of channel c begin after those of channels 0..c-1
// (sensorCount each). Each present point, in ascending order, takes the
// next record of its channel and gets fresh TA, HB and KT values, the LT and
// AD values of the sub-channel the record names, and all eight bits. A
// record the answer (the bytes that arrived) does not hold whole is not
// taken. Points that take no record keep their record and flags.
void Distribute(pxr5760::ModuleState& state, std::span<const uint8_t> answer) {
  using namespace pxr5760;
  size_t channelStart = kFirstRecord;
  for (size_t channel = 0; channel < kChannels; ++channel) {
    size_t position = channelStart;
    const auto& present = state.present[channel];
    auto& points = state.points[channel];
    for (size_t p = 0; p < kPoints; ++p) {
      if (!present.test(p)) continue;
      if (position + kRecordSize > answer.size()) break;
      PointState& point = points[p];
      std::memcpy(point.record.data(), answer.data() + position, kRecordSize);
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
  // A register outside 1..7 has no value: it takes the road of any read
  // (scan, gate, block read) and then fails with 22.
  if (!CheckItemNumbers(*item)) return 0;
  const auto module = static_cast<uint8_t>(item->ModuleAddress);

  pxr5760::ModuleState& state = states_.At(Port().LinePort(), module);
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
        // The flags always equal the latest answer. Every entry of the list
        // takes a record in a block answer, a point listed twice or beyond
        // the channel's 32 included; only points 0..31 are marked present,
        // once.
        auto& present = state.present[static_cast<size_t>(channel)];
        present.reset();
        for (const uint8_t point : listed)
          if (point < pxr5760::kPoints) present.set(point);
        state.sensorCount[static_cast<size_t>(channel)] = static_cast<int32_t>(listed.size());
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
  uint8_t buffer[kAnswerBufferSize];
  uint32_t count = 0;
  if (!BlockReadExchange(*this, exchange, kBadAnswerPauseMs, buffer, sizeof buffer, &count))
    return false;
  Distribute(state, std::span<const uint8_t>(buffer, count));
  return true;
}

}  // namespace tarvo
