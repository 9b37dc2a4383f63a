// The scan of an eight-channel module: "*" AA c CR for each channel c in
// turn, answered with the channel's point list. A module that stops
// answering with its head after channel 0 has no further channels: the
// scan ends there with success, the remaining channels untouched.
#include <vector>

#include "driver/reply_rules.h"
#include "pxr530x/point_marks.h"
#include "pxr530x/sensor_module_driver.h"

namespace tarvo::pxr530x {

bool SensorModuleDriver::ScanPerChannel(ModuleState& state, uint8_t module, int32_t timeoutMs) {
  std::vector<uint8_t> answer(traits_.scanBufferBytes);
  uint32_t count = 0;
  for (int channel = 0; channel < state.channels(); ++channel) {
    const Command list = MakeCommand('*', module, static_cast<char>('0' + channel));
    if (!Ask(list, PointListReply(AnswerHead('>', list)), timeoutMs, answer.data(), answer.size(),
             &count))
      return false;
    // Without a valid answer on channel 0 nothing was learned: the scan
    // fails, so the module is asked again at the next read.
    if (!HasHead(answer, '>', list)) return channel > 0;
    // Cut off before its count, the answer would read as an empty channel.
    if (count < kPointListStart) return false;
    const int listed = ApplyPointList(state, channel, answer);
    if (listed < 0) return false;
    state.sensorCount[static_cast<size_t>(channel)] = listed;
  }
  return true;
}

}  // namespace tarvo::pxr530x
