// The order in which tarvo-poll reads a plant's items so that every poll
// refreshes every item while the modules' refresh gates allow it. A gated
// module answers one block read every 2 whole seconds (a pxr5100 for one
// channel); a block read makes the values of its module (or channel) fresh
// once, and the driver hands each out to one read. So each time a module's
// gate opens, the schedule spends its block read on the item that waited
// longest (an item that failed for real first: it needs a block read of
// its own to show its code), then reads the items that block read made
// fresh, one per fresh value. Items that share a fresh value wait for the
// next block read; no item starves.
//
// The schedule knows the gates only from the outside: it takes a gate to
// open 2 whole seconds after the whole second in which the read that used
// it began (or the driver object was made). Where it guesses early, the
// driver answers code 23 and sends nothing; the schedule then tries again
// at the next whole second.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tarvo/errors.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

struct ScheduleEntry {
  size_t group = 0;  // the driver object
  RefreshRule rule = RefreshRule::kEachRead;
  int module = 0;
  int block = 0;     // the channel a block read refreshes (kChannelGate), else 0
  std::string flag;  // entries of one module with the same flag share one fresh value
  bool write = false;
  bool gatedWrite = false;  // a write that spends the module's gate (pxr5760)
  bool onDemand = false;    // a write made only when armed, not with the first poll
};

class Schedule {
 public:
  using Clock = std::chrono::system_clock;
  // A trigger refused with code 23 this many times in one poll ends the
  // poll waiting: something else spends the module's gate.
  static constexpr int kTriggerMisses = 4;

  explicit Schedule(std::vector<ScheduleEntry> entries);

  // The group's driver object was made at `when`: the gates of its modules
  // open 2 whole seconds later.
  void ObjectCreated(size_t group, Clock::time_point when);
  // Starts a poll: every read pending; the writes in the first poll only,
  // and the writes armed and not yet made.
  void StartPoll();
  // Makes a write pending, in the poll running or the next: it goes before
  // any read once its module's gate lets it.
  void Arm(size_t entry);
  // Drops an armed write not yet made.
  void Disarm(size_t entry) { states_[entry].pending = false; }
  bool PollDone() const;
  // The entry to call next at `now`, or nothing while every pending entry
  // waits for its module's gate (until NextGate()).
  std::optional<size_t> Next(Clock::time_point now);
  Clock::time_point NextGate() const;
  // The outcome of the call of `entry` that began at `began`: the driver's
  // code, 0 for success.
  void Record(size_t entry, Clock::time_point began, int code);
  // Whether the entry was refreshed (or failed) in this poll.
  bool done(size_t entry) const { return !states_[entry].pending; }

 private:
  struct EntryState {
    bool pending = false;
    bool failed = false;                    // its last outcome was a failure other than 23
    std::optional<Clock::time_point> last;  // its last outcome other than 23
    int misses = 0;                         // triggers refused with 23 this poll
  };
  struct ModuleState {
    Clock::time_point opensAt;
    bool touched = false;  // read at least once (the first read scans the module)
  };
  using ModuleKey = std::pair<size_t, int>;  // group, module

  ModuleKey KeyOf(size_t entry) const { return {entries_[entry].group, entries_[entry].module}; }
  bool Gated(size_t entry) const;
  // The pending entry of the module that should spend its next block read.
  std::optional<size_t> Trigger(const ModuleKey& key) const;
  void QueueFollowers(size_t trigger);

  std::vector<ScheduleEntry> entries_;
  std::vector<EntryState> states_;
  std::map<ModuleKey, ModuleState> modules_;
  std::vector<size_t> followers_;  // made fresh by the last block read, in order
  std::optional<size_t> trigger_;  // the entry whose outcome decides the followers
  bool firstPoll_ = true;
};

}  // namespace tarvo::tools
