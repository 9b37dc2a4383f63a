#include "pxr5760/tables.h"
#include "serial/clock.h"

namespace tarvo::pxr5760 {

bool TakeRefreshGate(ModuleState& state) {
  // Whole seconds of a monotonic clock: setting the wall clock back cannot
  // keep a module's gate shut.
  const int64_t now = serial::CurrentClock().NowSeconds();
  if (now - state.lastRefresh > 1) {
    state.refreshDue = true;
    state.lastRefresh = now;
  }
  if (!state.refreshDue) return false;
  state.refreshDue = false;
  return true;
}

}  // namespace tarvo::pxr5760
