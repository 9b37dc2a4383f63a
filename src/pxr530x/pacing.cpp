#include "pxr530x/sensor_module_driver.h"
#include "serial/clock.h"

namespace tarvo::pxr530x {
namespace {
constexpr uint32_t kBlockReadWaitMs = 10000;
}  // namespace

bool SensorModuleDriver::PaceBlockRead(ModuleState& state) {
  serial::Clock& clock = serial::CurrentClock();
  if (traits_.pacing == Pacing::kFixedWait) {
    clock.SleepMs(kBlockReadWaitMs);
    return true;
  }
  // Whole seconds of a monotonic clock: setting the wall clock back cannot
  // stall the reads. The gate opens once the count has moved on by 2 since
  // it last opened, and each opening serves one block read.
  const int64_t now = clock.NowSeconds();
  if (now - state.lastRefresh > 1) {
    state.refreshDue = true;
    state.lastRefresh = now;
  }
  if (!state.refreshDue) return FailStep(ErrDelayNotElapsed);
  state.refreshDue = false;
  return true;
}

}  // namespace tarvo::pxr530x
