// The scan question shared by both kinds of module scan, and the choice
// between them.
#include <cstring>

#include "driver/trace.h"
#include "pxr530x/sensor_module_driver.h"

namespace tarvo::pxr530x {

bool SensorModuleDriver::ScanModule(ModuleState& state, uint8_t module, int32_t timeoutMs) {
  switch (traits_.scan) {
    case ScanKind::kSummary:
      return ScanSummary(state, module, timeoutMs);
    case ScanKind::kPerChannel:
      return ScanPerChannel(state, module, timeoutMs);
  }
  return false;
}

bool SensorModuleDriver::Ask(const Command& command, const serial::ReplyRule& whole,
                             int32_t timeoutMs, uint8_t* buffer, size_t capacity, uint32_t* count) {
  TraceHook("Read Send", command.data(), static_cast<int32_t>(command.size()));
  if (!Port().Write(command.data(), static_cast<int32_t>(command.size()), timeoutMs)) return false;
  std::memset(buffer, 0, capacity);
  *count = 0;
  // The module gets this wait on top of the read's own before it is read.
  if (!Port().ReadReply(buffer, capacity, timeoutMs, timeoutMs, whole, count)) return false;
  TraceHook("Read Receive", buffer, static_cast<int32_t>(*count));
  return true;
}

}  // namespace tarvo::pxr530x
