#include "pxr5700/pxr5700.h"

#include <algorithm>
#include <cstring>

#include "driver/address.h"
#include "driver/exchange.h"
#include "driver/trace.h"

namespace tarvo {
namespace {
constexpr int kMaxModuleDigits = 4;
// The module is always given at least this long to answer.
constexpr int32_t kMinExchangeTimeoutMs = 100;
}  // namespace

pxr5700::Command pxr5700::MakeCommand(uint8_t lead, int module, uint8_t payload) {
  const auto digits = AddressDigits(module, HexCase::kUpper);
  return {lead, digits[0], digits[1], payload, kCarriageReturn};
}

Cpxr5700::Cpxr5700()
    : DriverBase({{"DI", kAccessRead, kDataTypeDiscrete},
                  {"DO", kAccessReadWrite, kDataTypeDiscrete},
                  {"TA", kAccessRead, kDataTypeFloat},
                  {"TB", kAccessRead, kDataTypeFloat},
                  {"WI", kAccessRead, kDataTypeFloat}}) {
  Port().SetTimeout(kInitialTimeoutMs);
  SharedTables().Reset(0);
}

FamilyState<pxr5700::ModuleState>& Cpxr5700::SharedTables() {
  static FamilyState<pxr5700::ModuleState> tables;
  return tables;
}

int32_t Cpxr5700::ParseItem(const char* address, IoItem* item) {
  item->Channel = 0;
  item->ModuleAddress = 0;

  const int16_t found = FindRegister(address);
  if (found == 0) return Fail(ErrRegisterUnsupported);
  const auto reg = static_cast<int16_t>(found - 1);
  item->RegisterIndex = reg;
  const int16_t wanted = pxr5700::IsBitRegister(reg) ? kDataTypeDiscrete : kDataTypeFloat;
  if (item->DataType != wanted) return Fail(ErrDataType);

  int32_t module = 0;
  if (!ParseModuleDigits(address, kMaxModuleDigits, &module)) return Fail(ErrDigitsExpected);
  if (module >= kModules) return Fail(ErrRegisterUnsupported);

  const char* point = std::strchr(address, '.');
  if (point == nullptr) return Fail(ErrDigitsExpected);
  // Any run of digits is read, as its low 16 bits; none reads as channel 0.
  const auto channel = static_cast<int16_t>(ParseDigitRun(point + 1));
  if (!pxr5700::ChannelInRange(reg, channel)) return Fail(ErrChannelNumber);

  item->Channel = channel;
  item->ModuleAddress = module;
  return Succeed();
}

// The caches are indexed by an item's module and channel: an item that
// ParseItem cannot have produced is refused before anything is touched.
bool Cpxr5700::CheckItem(const IoItem& item) {
  if (!pxr5700::IsRegister(item.RegisterIndex)) return FailStep(ErrRegisterUnsupported);
  if (item.ModuleAddress < 0 || item.ModuleAddress >= kModules)
    return FailStep(ErrRegisterUnsupported);
  if (!pxr5700::ChannelInRange(item.RegisterIndex, item.Channel)) return FailStep(ErrChannelNumber);
  return true;
}

// One command and its reply. The protocol has no framing a reply could be
// recognised by, so the input that arrived before the command (a reply that
// came after its time-out, noise) is discarded first: it would otherwise be
// taken as the answer to this command. Only the receive side is flushed.
bool Cpxr5700::Exchange(const pxr5700::Command& command, const char* sendLabel,
                        const char* receiveLabel, uint8_t head, size_t length, uint8_t* reply,
                        size_t capacity, uint32_t* count) {
  const int32_t timeoutMs = std::max(Port().Timeout(), kMinExchangeTimeoutMs);
  Port().PurgeInput();
  TraceHook(sendLabel, command.data(), static_cast<int32_t>(command.size()));
  if (!Port().WriteNoPurge(command.data(), static_cast<int32_t>(command.size()), timeoutMs))
    return FailStep(ErrPortWrite);

  std::memset(reply, 0, capacity);
  *count = 0;
  // The module's time to answer, then what arrived: the read's own wait.
  const uint8_t expected[1] = {head};
  if (!Port().ReadReply(reply, capacity, 0, timeoutMs, FixedReply(expected, length), count))
    return FailStep(ErrPortRead);
  TraceHook(receiveLabel, reply, static_cast<int32_t>(*count));
  return true;
}

}  // namespace tarvo
