// What a driver class keeps of each module between calls (scan results,
// records, fresh flags, filters, caches) and the refresh gate that paces the
// exchanges with a module.
//
// The state is kept per line and module: two lines with a module at the
// same address never share it; the objects on one line (the one that
// opened it and those that adopted its SharedHandle) do, and a line reopened
// on the same port finds its state again. One table per class and process,
// reset by each of the class's constructors on every line. A module's state
// is allocated when it is first used, so a host that polls three modules
// does not pay for 128.
//
// Threads: different lines may be used from different threads while other
// threads create objects of the class. The table's lookups are locked; a
// module's state is used by the objects of one line, which the host calls
// from one thread at a time. A reset never frees a state that is in use: the
// objects holding it keep it until their next lookup, which finds the reset.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

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

  // Forgets every module on every line; modules met from now on start with
  // their gate last opened at now (whole seconds).
  void Reset(int64_t now) {
    std::lock_guard<std::mutex> lock(mutex_);
    states_.clear();
    resetAt_ = now;
    generation_.fetch_add(1, std::memory_order_release);
  }
  // Counts the resets: a state looked up before the count last changed may
  // be one the table has forgotten.
  uint64_t Generation() const { return generation_.load(std::memory_order_acquire); }

  // The state of module (0..127) on line, or null when it was not used
  // since the last reset.
  std::shared_ptr<Module> Find(int32_t line, int module) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = states_.find({line, module});
    return found == states_.end() ? nullptr : found->second;
  }
  // The state of module (0..127) on line, allocated on first use.
  std::shared_ptr<Module> At(int32_t line, int module) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::shared_ptr<Module>& state = states_[{line, module}];
    if (!state) {
      state = make_();
      if constexpr (requires { state->gate; }) state->gate = RefreshGate(resetAt_);
    }
    return state;
  }

 private:
  const std::function<std::unique_ptr<Module>()> make_;
  std::mutex mutex_;
  std::map<std::pair<int32_t, int>, std::shared_ptr<Module>> states_;
  int64_t resetAt_ = 0;
  std::atomic<uint64_t> generation_{0};
};

// One driver object's view of its class's table: the states it looked up,
// kept while the table has not been reset and the object's line is the
// same, so that a read served from a module's state takes no lock.
template <class Module>
class ModuleStates {
 public:
  explicit ModuleStates(FamilyState<Module>& table) : table_(table) {}

  // The state of module (0..127) on line, allocated on first use.
  Module& At(int32_t line, int module) {
    std::shared_ptr<Module>& held = Held(line, module);
    if (!held) held = table_.At(line, module);
    return *held;
  }
  // The state of module (0..127) on line, or null when none was used.
  Module* Find(int32_t line, int module) {
    std::shared_ptr<Module>& held = Held(line, module);
    if (!held) held = table_.Find(line, module);
    return held.get();
  }

 private:
  std::shared_ptr<Module>& Held(int32_t line, int module) {
    const uint64_t generation = table_.Generation();
    if (line != line_ || generation != generation_) {
      held_ = {};
      line_ = line;
      generation_ = generation;
    }
    return held_[static_cast<size_t>(module)];
  }

  FamilyState<Module>& table_;
  int32_t line_ = -1;
  uint64_t generation_ = 0;
  std::array<std::shared_ptr<Module>, kModules> held_;
};

}  // namespace tarvo
