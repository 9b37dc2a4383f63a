#include "tools/plant/schedule.h"

#include <algorithm>
#include <tuple>

namespace tarvo::tools {
namespace {

using std::chrono::seconds;

constexpr seconds kGatePeriod{2};

Schedule::Clock::time_point WholeSecond(Schedule::Clock::time_point when) {
  return std::chrono::floor<seconds>(when);
}

}  // namespace

Schedule::Schedule(std::vector<ScheduleEntry> entries)
    : entries_(std::move(entries)), states_(entries_.size()) {
  for (size_t i = 0; i < entries_.size(); ++i) modules_[KeyOf(i)];
}

bool Schedule::Gated(size_t entry) const {
  const RefreshRule rule = entries_[entry].rule;
  return rule == RefreshRule::kChannelGate || rule == RefreshRule::kModuleGate;
}

void Schedule::ObjectCreated(size_t group, Clock::time_point when) {
  for (auto& [key, module] : modules_)
    if (key.first == group) module.opensAt = WholeSecond(when) + kGatePeriod;
}

void Schedule::StartPoll() {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ScheduleEntry& e = entries_[i];
    if (!e.write)
      states_[i].pending = true;
    else if (!e.onDemand)
      states_[i].pending = firstPoll_;
    states_[i].misses = 0;
  }
  firstPoll_ = false;
  followers_.clear();
  trigger_.reset();
}

void Schedule::Arm(size_t entry) {
  states_[entry].pending = true;
  states_[entry].misses = 0;
}

bool Schedule::PollDone() const {
  return std::none_of(states_.begin(), states_.end(),
                      [](const EntryState& s) { return s.pending; });
}

std::optional<size_t> Schedule::Trigger(const ModuleKey& key) const {
  std::optional<size_t> best;
  auto rank = [&](size_t i) {
    const EntryState& s = states_[i];
    // Writes first, then an item that failed (it needs a block read of its
    // own), then one never read, then the one read longest ago.
    return std::make_tuple(!entries_[i].write, !s.failed, s.last.has_value(),
                           s.last.value_or(Clock::time_point()), i);
  };
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!states_[i].pending || KeyOf(i) != key) continue;
    if (!best || rank(i) < rank(*best)) best = i;
  }
  return best;
}

std::optional<size_t> Schedule::Next(Clock::time_point now) {
  while (!followers_.empty()) {
    const size_t next = followers_.front();
    followers_.erase(followers_.begin());
    if (states_[next].pending) return next;
  }
  // Writes before reads: someone waits for the switch. A write that spends
  // its module's gate waits for it.
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!states_[i].pending || !entries_[i].write) continue;
    if (entries_[i].gatedWrite && modules_.at(KeyOf(i)).opensAt > now) continue;
    trigger_ = i;
    return i;
  }
  // Open gates first, so that they start to count again soonest; then the
  // items every read serves; then the block reads that wait without a gate
  // (they can fill the time until the gates open).
  const RefreshRule passes[][2] = {{RefreshRule::kChannelGate, RefreshRule::kModuleGate},
                                   {RefreshRule::kEachRead, RefreshRule::kEachRead},
                                   {RefreshRule::kBlockWait, RefreshRule::kBlockWait}};
  for (const auto& rules : passes) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      if (!states_[i].pending || (entries_[i].rule != rules[0] && entries_[i].rule != rules[1]))
        continue;
      if (entries_[i].rule == RefreshRule::kEachRead) return i;
      const ModuleState& module = modules_.at(KeyOf(i));
      const std::optional<size_t> trigger = Trigger(KeyOf(i));
      // A module never read is read at once: its first read scans it, which
      // takes the time the gate stays shut anyway. A write waits: it finds
      // the gate shut for good and fails.
      if (Gated(i) && module.opensAt > now && (module.touched || entries_[*trigger].gatedWrite))
        continue;
      trigger_ = trigger;
      return trigger_;
    }
  }
  return std::nullopt;
}

Schedule::Clock::time_point Schedule::NextGate() const {
  std::optional<Clock::time_point> next;
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (!states_[i].pending || !Gated(i)) continue;
    const Clock::time_point opens = modules_.at(KeyOf(i)).opensAt;
    if (!next || opens < *next) next = opens;
  }
  return next.value_or(Clock::now());
}

void Schedule::QueueFollowers(size_t trigger) {
  const ScheduleEntry& t = entries_[trigger];
  std::vector<const std::string*> flags{&t.flag};
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ScheduleEntry& e = entries_[i];
    if (i == trigger || !states_[i].pending || e.write || KeyOf(i) != KeyOf(trigger)) continue;
    if (t.rule == RefreshRule::kChannelGate && e.block != t.block) continue;
    if (std::any_of(flags.begin(), flags.end(), [&](const std::string* f) { return *f == e.flag; }))
      continue;
    flags.push_back(&e.flag);
    followers_.push_back(i);
  }
}

void Schedule::Record(size_t entry, Clock::time_point began, int code) {
  EntryState& state = states_[entry];
  const bool trigger = trigger_ == entry;
  if (trigger) trigger_.reset();
  ModuleState& module = modules_.at(KeyOf(entry));
  const bool touched = module.touched;
  module.touched = true;
  if (code == ErrDelayNotElapsed && entries_[entry].rule != RefreshRule::kEachRead) {
    // A follower waits for a block read of its own; a trigger for the gate.
    if (!trigger || !Gated(entry)) return;
    module.opensAt = std::max(module.opensAt, WholeSecond(Clock::now()) + seconds(1));
    if (touched && ++state.misses >= kTriggerMisses) state.pending = false;
    return;
  }
  state.pending = false;
  state.failed = code != ErrOk && code != ErrDelayNotElapsed;
  state.last = began;
  if (!trigger || entries_[entry].rule == RefreshRule::kEachRead) return;
  // The gate opened in the second the call began, or for a module's first
  // read after its scan. A failed scan (24) never reached the gate.
  if (Gated(entry) && code != ErrInitModule)
    module.opensAt = WholeSecond(touched ? began : Clock::now()) + kGatePeriod;
  if (!entries_[entry].write) QueueFollowers(entry);
}

}  // namespace tarvo::tools
