// What a driver class keeps of each module between calls (scan results,
// records, fresh flags, filters, caches) and the refresh gate that paces the
// exchanges with a module. One table per class and process, shared by all
// the class's objects and reset by each constructor; a module's state is
// allocated when it is first used, so a host that polls three modules does
// not pay for 128.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace tarvo {

inline constexpr int kModules = 128;  // module addresses 0..127

// At most one exchange with a module every 2 whole seconds. The count is of
// a monotonic clock, so setting the wall clock back cannot stall it.
class RefreshGate {
 public:
  explicit RefreshGate(int64_t now = 0) : lastRefresh_(now) {}
  // The gate opens when now has moved on by 2 or more since it last
  // opened; one exchange uses the opening up. True, closing the gate, when
  // the caller may talk to the module now.
  bool Take(int64_t now) {
    if (now - lastRefresh_ > 1) {
      refreshDue_ = true;
      lastRefresh_ = now;
    }
    if (!refreshDue_) return false;
    refreshDue_ = false;
    return true;
  }

 private:
  int64_t lastRefresh_;  // whole seconds
  bool refreshDue_ = false;
};

// Module must have a member `RefreshGate gate` when the class paces its
// exchanges; make builds a fresh state.
template <class Module>
class FamilyState {
 public:
  explicit FamilyState(std::function<std::unique_ptr<Module>()> make =
                           [] { return std::make_unique<Module>(); })
      : make_(std::move(make)) {}

  // Forgets every module; modules met from now on start with their gate
  // last opened at now (whole seconds).
  void Reset(int64_t now) {
    resetAt_ = now;
    for (auto& module : modules_) module.reset();
  }
  // The state of module (0..127), or null when it was not used since the
  // last reset.
  Module* Find(int module) { return modules_[static_cast<size_t>(module)].get(); }
  // The state of module (0..127), allocated on first use.
  Module& At(int module) {
    auto& state = modules_[static_cast<size_t>(module)];
    if (!state) {
      state = make_();
      if constexpr (requires { state->gate; }) state->gate = RefreshGate(resetAt_);
    }
    return *state;
  }

 private:
  std::function<std::unique_ptr<Module>()> make_;
  int64_t resetAt_ = 0;
  std::array<std::unique_ptr<Module>, kModules> modules_;
};

}  // namespace tarvo
