// The output write: "/" mm b CR sets all eight outputs of module mm to the
// raw byte b (bit i for channel i; any value, 0x0D included); the module
// answers "!" and repeats b at byte 3.
#include "pxr5700/command.h"
#include "pxr5700/pxr5700.h"
#include "pxr5700/registers.h"
#include "pxr5700/reply.h"

namespace tarvo {

int32_t Cpxr5700::WriteItem(IoItem* item, IoValue* value) {
  if (item->RegisterIndex != pxr5700::kOutputs) return Fail(ErrRegisterUnsupported);
  if (!CheckItem(*item)) return 0;
  const int module = item->ModuleAddress;

  pxr5700::ModuleState& state = pxr5700::SharedTables().Module(module);
  auto& written = state.outputs[static_cast<size_t>(item->Channel)];
  written.data = value->DiscreteValue;
  // The entry no longer holds what the module reported: a later read must
  // ask the module, whether or not this write gets through.
  written.fresh = false;

  uint8_t bits = 0;
  for (size_t i = 0; i < state.outputs.size(); ++i)
    if (state.outputs[i].data == 1) bits = static_cast<uint8_t>(bits | (1u << i));

  const pxr5700::Command command = pxr5700::MakeCommand(pxr5700::kWriteLead, module, bits);
  uint8_t reply[pxr5700::kReplyBufferSize];
  uint32_t count = 0;
  if (!Exchange(command, "Write Send", "Write Receive", pxr5700::kWriteReplyHead,
                pxr5700::kWriteReplyLength + pxr5700::kReplyEndBytes, reply, sizeof reply, &count))
    return 0;
  if (reply[0] != pxr5700::kWriteReplyHead || count < pxr5700::kWriteReplyLength)
    return Fail(ErrPortRead);
  if (reply[pxr5700::kBitsAt] != bits) return Fail(ErrPortWrite);
  return Succeed();
}

}  // namespace tarvo
