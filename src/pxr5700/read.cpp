// The read: "#" MM r CR asks module MM (two upper-case hex digits) for
// register code r; one reply (">", the address digits, the data, CR)
// brings every channel of that register.
#include <algorithm>

#include "pxr5700/numeric_text.h"
#include "pxr5700/pxr5700.h"
#include "sensors/conversions.h"

namespace tarvo {
namespace {

using namespace pxr5700;

constexpr uint8_t kReadLead = '#';
// The register code of the read command; TA and TB share one.
constexpr uint8_t kReadCodes[kRegisterCount] = {'0', '1', '3', '3', '2'};
// TA and TB replies: the 4-byte readings of channels 1 and 2.
constexpr size_t kTemperatureAt[kAnalogChannels] = {5, 9};
// WI replies: the 5-character texts of channels 1 and 2.
constexpr size_t kNumericAt[kAnalogChannels] = {5, 11};
// The fewest bytes a reply to a read of register index must have to carry
// all the data taken from it.
constexpr size_t kReadReplyLength[kRegisterCount] = {
    kBitsAt + 1, kBitsAt + 1, kTemperatureAt[1] + 4, kTemperatureAt[1] + 4, kNumericAt[1] + 5};

template <class Data>
Entry<Data>& EntryOf(std::array<Entry<Data>, kAnalogChannels>& entries, int16_t channel) {
  return entries[static_cast<size_t>(channel - 1)];
}

bool IsFresh(ModuleState& state, int16_t reg, int16_t channel) {
  const auto bit = static_cast<size_t>(channel);
  switch (reg) {
    case kInputs:
      return state.inputs[bit].fresh;
    case kOutputs:
      return state.outputs[bit].fresh;
    case kTemperature:
    case kTemperature12:
      return EntryOf(state.temperatures, channel).fresh;
    default:
      return EntryOf(state.numerics, channel).fresh;
  }
}

// Marks every entry the reply carries fresh.
void Store(ModuleState& state, int16_t reg, const uint8_t* reply) {
  if (IsBitRegister(reg)) {
    auto& entries = reg == kInputs ? state.inputs : state.outputs;
    const uint8_t bits = reply[kBitsAt];
    for (size_t i = 0; i < entries.size(); ++i) entries[i] = {true, (bits >> i) & 1u};
    return;
  }
  for (size_t i = 0; i < kAnalogChannels; ++i) {
    if (reg == kNumeric) {
      auto& entry = state.numerics[i];
      const uint8_t* text = reply + kNumericAt[i];
      std::copy(text, text + entry.data.size(), entry.data.begin());
      entry.fresh = true;
    } else {
      auto& entry = state.temperatures[i];
      const uint8_t* raw = reply + kTemperatureAt[i];
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

  ModuleState* known = states_.Find(Port().LinePort(), module);
  if (known != nullptr && IsFresh(*known, reg, channel))
    return Deliver(*known, reg, channel, value);

  const Command command = MakeCommand(kReadLead, module, kReadCodes[reg]);
  uint8_t reply[kReplyBufferSize];
  uint32_t count = 0;
  const size_t length = kReadReplyLength[static_cast<size_t>(reg)];
  if (!Exchange(command, "Read Send", "Read Receive", kReadReplyHead, length + kReplyEndBytes,
                reply, sizeof reply, &count))
    return 0;
  // Nothing, something else, or a reply cut short by the time-out: the
  // missing bytes must not pass for readings of zero.
  if (reply[0] != kReadReplyHead || count < length) return Fail(ErrPortRead);

  ModuleState& state = states_.At(Port().LinePort(), module);
  Store(state, reg, reply);
  return Deliver(state, reg, channel, value);
}

// Each value the module sent is handed out once.
int32_t Cpxr5700::Deliver(ModuleState& state, int16_t reg, int16_t channel, IoValue* value) {
  const auto bit = static_cast<size_t>(channel);
  const auto analog = static_cast<size_t>(channel - 1);
  switch (reg) {
    case kInputs:
    case kOutputs: {
      auto& entry = reg == kInputs ? state.inputs[bit] : state.outputs[bit];
      entry.fresh = false;
      value->DiscreteValue = entry.data;
      break;
    }
    case kTemperature:
    case kTemperature12: {
      // TA and TB take the same reading: whichever reads it first uses it.
      auto& entry = state.temperatures[analog];
      entry.fresh = false;
      float converted = 0.0f;
      if (reg == kTemperature)
        sensors::ConvertTempExtended(entry.data.data(), &converted);
      else
        sensors::ConvertTemp12(entry.data.data(), &converted);
      value->AnalogValue = converted;
      break;
    }
    default: {
      auto& entry = state.numerics[analog];
      entry.fresh = false;
      value->AnalogValue = ParseNumericText(entry.data.data(), entry.data.size());
      break;
    }
  }
  return Succeed();
}

}  // namespace tarvo
