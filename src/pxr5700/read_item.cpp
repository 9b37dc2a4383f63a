// The read: "#" mm r CR asks module mm (two upper-case hex digits) for
// register code r; one reply brings every channel of that register.
#include <algorithm>

#include "pxr5700/command.h"
#include "pxr5700/pxr5700.h"
#include "pxr5700/registers.h"
#include "pxr5700/reply.h"

namespace tarvo {
namespace {

using pxr5700::Entry;

template <class Data>
Entry<Data>& EntryOf(std::array<Entry<Data>, pxr5700::kAnalogChannels>& entries, int16_t channel) {
  return entries[static_cast<size_t>(channel - 1)];
}

bool IsFresh(pxr5700::ModuleState& state, int16_t reg, int16_t channel) {
  const auto bit = static_cast<size_t>(channel);
  switch (reg) {
    case pxr5700::kInputs:
      return state.inputs[bit].fresh;
    case pxr5700::kOutputs:
      return state.outputs[bit].fresh;
    case pxr5700::kTemperature:
    case pxr5700::kTemperature12:
      return EntryOf(state.temperatures, channel).fresh;
    default:
      return EntryOf(state.numerics, channel).fresh;
  }
}

// Marks every entry the reply carries fresh.
void Store(pxr5700::ModuleState& state, int16_t reg, const uint8_t* reply) {
  if (pxr5700::IsBitRegister(reg)) {
    auto& entries = reg == pxr5700::kInputs ? state.inputs : state.outputs;
    const uint8_t bits = reply[pxr5700::kBitsAt];
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = {true, (bits >> i) & 1u};
    return;
  }
  for (size_t i = 0; i < pxr5700::kAnalogChannels; ++i) {
    if (reg == pxr5700::kNumeric) {
      auto& entry = state.numerics[i];
      const uint8_t* text = reply + pxr5700::kNumericAt[i];
      std::copy(text, text + entry.data.size(), entry.data.begin());
      entry.fresh = true;
    } else {
      auto& entry = state.temperatures[i];
      const uint8_t* raw = reply + pxr5700::kTemperatureAt[i];
      std::copy(raw, raw + entry.data.size(), entry.data.begin());
      entry.fresh = true;
    }
  }
}

}  // namespace

int32_t Cpxr5700::ReadItem(IoItem* item, IoValue* value) {
  if (!CheckItem(*item)) return 0;
  const int module = item->ModuleAddress;
  const int16_t reg = item->RegisterIndex;
  const int16_t channel = item->Channel;

  pxr5700::ModuleState* known = pxr5700::SharedTables().Find(module);
  if (known != nullptr && IsFresh(*known, reg, channel))
    return Deliver(*known, reg, channel, value);

  const pxr5700::Command command =
      pxr5700::MakeCommand(pxr5700::kReadLead, module, pxr5700::ReadCode(reg));
  uint8_t reply[pxr5700::kReplyBufferSize];
  uint32_t count = 0;
  const size_t whole =
      pxr5700::kReadReplyLength[static_cast<size_t>(reg)] + pxr5700::kReplyEndBytes;
  if (!Exchange(command, "Read Send", "Read Receive", pxr5700::kReadReplyHead, whole, reply,
                sizeof reply, &count))
    return 0;
  // Nothing, something else, or a reply cut short by the time-out: the
  // missing bytes must not pass for readings of zero.
  if (reply[0] != pxr5700::kReadReplyHead ||
      count < pxr5700::kReadReplyLength[static_cast<size_t>(reg)])
    return Fail(ErrPortRead);

  pxr5700::ModuleState& state = pxr5700::SharedTables().Module(module);
  Store(state, reg, reply);
  return Deliver(state, reg, channel, value);
}

}  // namespace tarvo
