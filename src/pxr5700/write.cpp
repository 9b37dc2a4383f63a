// The output write: "/" MM b CR sets all eight outputs of module MM to the
// raw byte b (bit i for channel i; any value, 0x0D included); the module
// answers "!" and repeats b at byte 3.
#include "pxr5700/pxr5700.h"

namespace tarvo {
namespace {
constexpr uint8_t kWriteLead = '/';
constexpr size_t kWriteReplyLength = pxr5700::kBitsAt + 1;
}  // namespace

int32_t Cpxr5700::WriteItem(IoItem* item, IoValue* value) {
  using namespace pxr5700;
  if (item->RegisterIndex != kOutputs) return Fail(ErrRegisterUnsupported);
  if (!CheckItem(*item)) return 0;
  const int module = item->ModuleAddress;

  ModuleState& state = states_.At(Port().LinePort(), module);
  auto& written = state.outputs[static_cast<size_t>(item->Channel)];
  written.data = value->DiscreteValue;
  // The entry no longer holds what the module reported: a later read must
  // ask the module, whether or not this write gets through.
  written.fresh = false;

  uint8_t bits = 0;
  for (size_t i = 0; i < state.outputs.size(); ++i)
    if (state.outputs[i].data == 1) bits = static_cast<uint8_t>(bits | (1u << i));

  const Command command = MakeCommand(kWriteLead, module, bits);
  uint8_t reply[kReplyBufferSize];
  uint32_t count = 0;
  if (!Exchange(command, "Write Send", "Write Receive", kWriteReplyHead,
                kWriteReplyLength + kReplyEndBytes, reply, sizeof reply, &count))
    return 0;
  if (reply[0] != kWriteReplyHead || count < kWriteReplyLength) return Fail(ErrPortRead);
  if (reply[kBitsAt] != bits) return Fail(ErrPortWrite);
  return Succeed();
}

}  // namespace tarvo
