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
//
// A call's work does not grow with the plant: each module keeps its
// pending items ordered by their claim on the next block read; the modules
// wait in order of their gates' opening and are taken in that order (those
// never read, to be scanned, first, in order of their first pending entry).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "tarvo/errors.h"
#include "tarvo/records.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

struct ScheduleEntry {
  size_t group = 0;  // the driver object
  RefreshRule rule = RefreshRule::kEachRead;
  int module = 0;
  int block = 0;      // the channel a block read refreshes (kChannelGate), else 0
  uint64_t flag = 0;  // entries of one module with the same flag share one fresh value
  bool write = false;
  bool gatedWrite = false;  // a write that spends the module's gate (pxr5760)
  bool onDemand = false;    // a write made only when armed, not with the first poll
};

// The entry of an item of a class read (or written) through driver object
// `group`: which module, which block read refreshes it and which fresh value
// it takes.
ScheduleEntry ScheduleEntryOf(const DriverClass& c, size_t group, const IoItem& item, bool write);

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
  void Disarm(size_t entry);
  bool PollDone() const { return pendingCount_ == 0; }
  // The entry to call next at `now`, or nothing while every pending entry
  // waits for its module's gate (until NextGate()).
  std::optional<size_t> Next(Clock::time_point now);
  Clock::time_point NextGate() const;
  // The outcome of the call of `entry` that began at `began` and ended at
  // `ended`: the driver's code, 0 for success.
  void Record(size_t entry, Clock::time_point began, int code,
              Clock::time_point ended = Clock::now());
  // Whether the entry was refreshed (or failed) in this poll.
  bool done(size_t entry) const { return !states_[entry].pending; }
  // The entries the last Next or Record looked at: its work.
  size_t examined() const { return examined_; }

 private:
  // An entry's facts and state, kept small: a full line has two entries
  // per item (its read and its write).
  struct EntryState {
    std::optional<Clock::time_point> last;  // its last outcome other than 23
    uint32_t module = 0;                    // in modules_
    uint32_t block = 0;                     // in blocks_
    uint32_t fresh = 0;                     // its fresh value in the block
    uint16_t misses = 0;                    // triggers refused with 23 this poll
    bool pending = false;
    bool failed = false;  // its last outcome was a failure other than 23
    bool write = false;
    bool gatedWrite = false;
    bool onDemand = false;
  };
  // A read's claim on its module's next block read, best first: one that
  // failed (it needs a block read of its own), then one never read, then
  // the one read longest ago.
  using Claim = std::tuple<bool, bool, Clock::time_point, size_t>;
  using Waiting = std::pair<Clock::time_point, size_t>;  // opens at, module
  // A module whose gate is open: whether it was read before, when its gate
  // opened (for one read before), its first pending entry, the module.
  using ReadyKey = std::tuple<bool, Clock::time_point, size_t, size_t>;
  enum class Place { kNone, kReady, kShut, kBlockWait };
  struct ModuleState {
    size_t group = 0;
    RefreshRule rule = RefreshRule::kEachRead;
    Clock::time_point opensAt;
    bool touched = false;        // read at least once (the first read scans the module)
    std::set<size_t> pending;    // every pending entry
    std::set<Claim> reads;       // the pending reads
    size_t gatedWrites = 0;      // pending writes that spend the gate
    Place place = Place::kNone;  // where Refile filed it, under these keys:
    size_t filedAt = 0;          // its first pending entry then
    ReadyKey readyKey;           // its key in ready_
    Clock::time_point placedAt;  // its gate's opening then
  };
  // The entries of a channel (or module) grouped by their fresh value:
  // those of fresh value f are entries[starts[f]] up to entries[starts[f + 1]].
  struct Block {
    std::vector<uint32_t> starts{0};
    std::vector<uint32_t> entries;
  };

  static bool Gated(RefreshRule rule) {
    return rule == RefreshRule::kChannelGate || rule == RefreshRule::kModuleGate;
  }
  Claim ClaimOf(size_t entry) const;
  bool Open(const ModuleState& module, Clock::time_point now) const;
  void MakePending(size_t entry);
  void Finish(size_t entry);
  // Files the module where the next call looks for it.
  void Refile(size_t module);
  void Unfile(size_t module);
  size_t TriggerOf(const ModuleState& module);
  void QueueFollowers(size_t trigger);

  std::vector<EntryState> states_;
  std::vector<ModuleState> modules_;
  std::vector<Block> blocks_;
  size_t pendingCount_ = 0;
  std::set<size_t> writes_;                        // pending writes
  std::set<size_t> eachRead_;                      // pending reads of modules without a gate
  std::set<ReadyKey> ready_;                       // gated modules to call
  std::set<Waiting> shut_;                         // gated modules waiting for their gate
  std::set<std::pair<size_t, size_t>> blockWait_;  // modules whose block read waits, no gate
  Clock::time_point now_ = Clock::time_point::min();
  std::deque<size_t> followers_;   // made fresh by the last block read, in order
  std::optional<size_t> trigger_;  // the entry whose outcome decides the followers
  bool firstPoll_ = true;
  size_t examined_ = 0;
};

}  // namespace tarvo::tools
