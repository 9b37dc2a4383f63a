// The output write: "/" mm c pp xx CR sets the whole output byte xx (two
// lowercase hex digits) of point pp (two decimal digits) on channel c; the
// module acknowledges with "!" mm.
#include <cstring>

#include "driver/answer_loop.h"
#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5760/item_check.h"
#include "pxr5760/pxr5760.h"
#include "pxr5760/wire.h"

namespace tarvo {
namespace {

constexpr int kWritePasses = 3;
constexpr size_t kCommandLength = 9;

}  // namespace

int32_t CPxr5760::WriteItem(IoItem* item, IoValue* value) {
  // Only DO is writable: a write of any other item must not switch an output.
  if (item->RegisterIndex != pxr5760::kDo) return Fail(ErrRegisterUnsupported);
  if (const DriverError code = pxr5760::CheckItemNumbers(*item); code != ErrOk) return Fail(code);
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const auto channel = static_cast<uint8_t>(item->Channel);
  const auto pointNumber = static_cast<uint8_t>(item->Point);

  pxr5760::ModuleState& state = pxr5760::SharedTables().Module(module);
  pxr5760::PointState& point = state.points[channel][pointNumber];
  // The module takes a whole byte: the other bits keep their last known
  // state (the last block read's, or the last acknowledged write's).
  const uint8_t old = point.record[pxr5760::kRecordOutputByte];
  const auto mask = static_cast<uint8_t>(1u << item->SubIndex);
  const auto output = static_cast<uint8_t>(value->DiscreteValue == 1 ? old | mask : old & ~mask);

  constexpr char kHex[] = "0123456789abcdef";
  const auto digits = pxr5760::AddressDigits(module);
  const uint8_t command[kCommandLength] = {'/',
                                           digits[0],
                                           digits[1],
                                           static_cast<uint8_t>('0' + channel),
                                           static_cast<uint8_t>('0' + pointNumber / 10),
                                           static_cast<uint8_t>('0' + pointNumber % 10),
                                           static_cast<uint8_t>(kHex[output >> 4]),
                                           static_cast<uint8_t>(kHex[output & 0x0F]),
                                           pxr5760::kCarriageReturn};
  const uint8_t head[3] = {'!', digits[0], digits[1]};
  const AnswerLoop loop{command, kCommandLength, 0, "Write Send", "Write Receive"};
  // The acknowledgement is the head and CR. Waiting for the CR too keeps it
  // from arriving after the next command's purge and heading its answer.
  const serial::ReplyRule acknowledgement = FixedReply(head, sizeof head + 1);

  for (int pass = 0; pass < kWritePasses; ++pass) {
    // A pass that finds the gate shut, or the line in error, sends nothing;
    // the next pass may find the gate reopened by the time earlier passes
    // spent waiting for a reply.
    if (!pxr5760::TakeRefreshGate(state)) continue;
    Port().Purge();
    if (!Port().ClearError()) continue;
    TraceHook("Write Send", command, kCommandLength);
    if (!Port().Write(command, kCommandLength, kCommandWriteTimeoutMs)) return Fail(ErrPortWrite);

    uint8_t reply[pxr5760::kAnswerBufferSize];
    uint32_t count = 0;
    switch (ReadAnswer(Port(), loop, acknowledgement, reply, sizeof reply, &count)) {
      case AnswerStatus::kReadFailed:
        return Fail(ErrPortRead);
      case AnswerStatus::kWriteFailed:
        return Fail(ErrPortWrite);
      case AnswerStatus::kReceived:
      case AnswerStatus::kSilent:
        break;
    }
    if (std::memcmp(reply, head, sizeof head) == 0) {
      // The module now holds this byte; a write to another bit of the point
      // builds on it instead of undoing this one.
      point.record[pxr5760::kRecordOutputByte] = output;
      return Succeed();
    }
  }
  return Fail(ErrReadData);
}

}  // namespace tarvo
