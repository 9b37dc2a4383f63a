// The output write: "/" mm c pp xx CR sets the whole output byte xx (two
// lowercase hex digits) of point pp (two decimal digits) on channel c; the
// module acknowledges with "!" mm.
#include "driver/address.h"
#include "driver/exchange.h"
#include "pxr5760/pxr5760.h"
#include "serial/clock.h"

namespace tarvo {
namespace {
constexpr int kWritePasses = 3;
constexpr size_t kReplyBufferSize = 2048;
}  // namespace

int32_t CPxr5760::WriteItem(IoItem* item, IoValue* value) {
  // Only DO is writable: a write of any other item must not switch an output.
  if (item->RegisterIndex != pxr5760::kDo) return Fail(ErrRegisterUnsupported);
  if (!CheckItem(*item)) return 0;
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const auto channel = static_cast<uint8_t>(item->Channel);
  const auto pointNumber = static_cast<uint8_t>(item->Point);

  readcycle::Module& state = State(module);
  readcycle::PointRecord& point = state.At(channel, pointNumber);
  // The module takes a whole byte: the other bits keep their last known
  // state (the last block read's, or the last acknowledged write's).
  const uint8_t old = point.record[pxr5760::kRecordOutputByte];
  const auto mask = static_cast<uint8_t>(1u << item->SubIndex);
  const auto output = static_cast<uint8_t>(value->DiscreteValue == 1 ? old | mask : old & ~mask);

  const auto digits = AddressDigits(module, HexCase::kLower);
  const auto byte = AddressDigits(output, HexCase::kLower);
  const std::array<uint8_t, 9> command = {'/',
                                          digits[0],
                                          digits[1],
                                          static_cast<uint8_t>('0' + channel),
                                          static_cast<uint8_t>('0' + pointNumber / 10),
                                          static_cast<uint8_t>('0' + pointNumber % 10),
                                          byte[0],
                                          byte[1],
                                          kCarriageReturn};
  const std::array<uint8_t, 3> head = {'!', digits[0], digits[1]};
  // The acknowledgement is the head and CR. Waiting for the CR too keeps it
  // from arriving after the next command's purge and heading its answer.
  const Exchange exchange{command, head,         FixedReply(head, head.size() + 1),
                          0,       "Write Send", "Write Receive"};

  for (int pass = 0; pass < kWritePasses; ++pass) {
    // A pass that finds the gate shut, or the line in error, sends nothing;
    // the next pass may find the gate reopened by the time earlier passes
    // spent waiting for a reply.
    if (!state.gate.Take(serial::CurrentClock().NowSeconds())) continue;
    uint8_t reply[kReplyBufferSize];
    uint32_t count = 0;
    switch (RunExchange(Port(), exchange, reply, sizeof reply, &count)) {
      case ExchangeOutcome::kAnswered:
        // The module now holds this byte; a write to another bit of the
        // point builds on it instead of undoing this one.
        point.record[pxr5760::kRecordOutputByte] = output;
        return Succeed();
      case ExchangeOutcome::kWriteFailed:
        return Fail(ErrPortWrite);
      case ExchangeOutcome::kReadFailed:
        return Fail(ErrPortRead);
      case ExchangeOutcome::kLineError:
      case ExchangeOutcome::kWrongAnswer:
        break;
    }
  }
  return Fail(ErrReadData);
}

}  // namespace tarvo
