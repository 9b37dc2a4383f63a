#include "tools/plant/schedule.h"

#include <algorithm>
#include <map>
#include <utility>

namespace tarvo::tools {
namespace {

using std::chrono::seconds;

constexpr seconds kGatePeriod{2};

Schedule::Clock::time_point WholeSecond(Schedule::Clock::time_point when) {
  return std::chrono::floor<seconds>(when);
}

}  // namespace

ScheduleEntry ScheduleEntryOf(const DriverClass& c, size_t member, const IoItem& item, bool write) {
  ScheduleEntry entry;
  entry.group = member;
  entry.rule = c.refresh;
  entry.module = item.ModuleAddress;
  entry.block = c.refresh == RefreshRule::kChannelGate ? item.Channel : 0;
  entry.write = write;
  entry.gatedWrite = write && c.writeGateSeconds > 0;
  // The fresh value: the item's point and its register, or the group of
  // registers that share one (per bit where they do).
  uint16_t value = static_cast<uint16_t>(item.RegisterIndex);
  uint16_t bit = 0;
  for (const SharedFreshValue& shared : c.sharedFreshValues) {
    if (item.RegisterIndex != shared.registers[0] && item.RegisterIndex != shared.registers[1])
      continue;
    value = static_cast<uint16_t>(shared.registers[0]);
    bit = shared.perSubIndex ? 0x8000 | (static_cast<uint16_t>(item.SubIndex) & 0x7fff) : 0;
  }
  entry.flag = uint64_t{static_cast<uint16_t>(item.Channel)} << 48 |
               uint64_t{static_cast<uint16_t>(item.Point)} << 32 | uint64_t{value} << 16 | bit;
  return entry;
}

Schedule::Schedule(std::vector<ScheduleEntry> entries) : states_(entries.size()) {
  std::map<std::pair<size_t, int>, uint32_t> modules;     // group, module
  std::map<std::pair<size_t, int>, uint32_t> blocks;      // module, block
  std::vector<std::map<uint64_t, uint32_t>> freshValues;  // per block: flag, fresh value
  for (size_t i = 0; i < entries.size(); ++i) {
    const ScheduleEntry& e = entries[i];
    EntryState& state = states_[i];
    state.write = e.write;
    state.gatedWrite = e.gatedWrite;
    state.onDemand = e.onDemand;
    const auto [module, newModule] =
        modules.try_emplace({e.group, e.module}, static_cast<uint32_t>(modules_.size()));
    if (newModule) {
      modules_.emplace_back();
      modules_.back().group = e.group;
      modules_.back().rule = e.rule;
    }
    state.module = module->second;
    const auto [block, newBlock] =
        blocks.try_emplace({state.module, e.block}, static_cast<uint32_t>(blocks_.size()));
    if (newBlock) {
      blocks_.emplace_back();
      freshValues.emplace_back();
    }
    state.block = block->second;
    if (e.write) continue;  // a write makes nothing fresh for others
    std::vector<uint32_t>& counts = blocks_[state.block].starts;  // counted here, made starts below
    const auto [fresh, newFresh] =
        freshValues[state.block].try_emplace(e.flag, static_cast<uint32_t>(counts.size() - 1));
    if (newFresh) counts.push_back(0);
    state.fresh = fresh->second;
    ++counts[state.fresh + 1];
  }
  // A counting sort: starts[f + 1] is first where group f begins, then
  // counts on as it fills, to where it ends (where f + 1 begins).
  for (Block& block : blocks_) {
    uint32_t sum = 0;
    for (size_t f = 1; f < block.starts.size(); ++f) sum += std::exchange(block.starts[f], sum);
    block.entries.resize(sum);
  }
  for (size_t i = 0; i < states_.size(); ++i) {
    const EntryState& state = states_[i];
    if (state.write) continue;
    Block& block = blocks_[state.block];
    block.entries[block.starts[state.fresh + 1]++] = static_cast<uint32_t>(i);
  }
}

Schedule::Claim Schedule::ClaimOf(size_t entry) const {
  const EntryState& s = states_[entry];
  return {!s.failed, s.last.has_value(), s.last.value_or(Clock::time_point()), entry};
}

bool Schedule::Open(const ModuleState& module, Clock::time_point now) const {
  // A module never read is read at once: its first read scans it, which
  // takes the time the gate stays shut anyway. A write waits: it finds the
  // gate shut for good and fails.
  return module.opensAt <= now || (!module.touched && module.gatedWrites == 0);
}

void Schedule::MakePending(size_t entry) {
  EntryState& state = states_[entry];
  if (state.pending) return;
  state.pending = true;
  ++pendingCount_;
  ModuleState& module = modules_[state.module];
  module.pending.insert(entry);
  if (state.write) {
    writes_.insert(entry);
    module.gatedWrites += state.gatedWrite;
    return;
  }
  module.reads.insert(ClaimOf(entry));
  if (module.rule == RefreshRule::kEachRead) eachRead_.insert(entry);
}

void Schedule::Finish(size_t entry) {
  EntryState& state = states_[entry];
  if (!state.pending) return;
  state.pending = false;
  --pendingCount_;
  ModuleState& module = modules_[state.module];
  module.pending.erase(entry);
  if (state.write) {
    writes_.erase(entry);
    module.gatedWrites -= state.gatedWrite;
    return;
  }
  module.reads.erase(ClaimOf(entry));
  eachRead_.erase(entry);
}

void Schedule::Unfile(size_t m) {
  ModuleState& module = modules_[m];
  switch (module.place) {
    case Place::kReady:
      ready_.erase(module.readyKey);
      break;
    case Place::kBlockWait:
      blockWait_.erase({module.filedAt, m});
      break;
    case Place::kShut:
      shut_.erase({module.placedAt, m});
      break;
    case Place::kNone:
      break;
  }
  module.place = Place::kNone;
}

void Schedule::Refile(size_t m) {
  Unfile(m);
  ModuleState& module = modules_[m];
  if (module.pending.empty() || module.rule == RefreshRule::kEachRead) return;
  // Modules never read, and those without a gate, are taken in the order
  // of their first pending entry; open gates in the order they opened.
  module.filedAt = *module.pending.begin();
  if (module.rule == RefreshRule::kBlockWait) {
    blockWait_.insert({module.filedAt, m});
    module.place = Place::kBlockWait;
  } else if (Open(module, now_)) {
    module.readyKey = {module.touched, module.touched ? module.opensAt : Clock::time_point(),
                       module.filedAt, m};
    ready_.insert(module.readyKey);
    module.place = Place::kReady;
  } else {
    module.placedAt = module.opensAt;
    shut_.insert({module.placedAt, m});
    module.place = Place::kShut;
  }
}

void Schedule::ObjectCreated(size_t group, Clock::time_point when) {
  for (size_t m = 0; m < modules_.size(); ++m) {
    if (modules_[m].group != group) continue;
    modules_[m].opensAt = WholeSecond(when) + kGatePeriod;
    Refile(m);
  }
}

void Schedule::StartPoll() {
  for (size_t i = 0; i < states_.size(); ++i) {
    const EntryState& e = states_[i];
    if (!e.write)
      MakePending(i);
    else if (!e.onDemand && firstPoll_)
      MakePending(i);
    else if (!e.onDemand)
      Finish(i);
    states_[i].misses = 0;
  }
  firstPoll_ = false;
  followers_.clear();
  trigger_.reset();
  for (size_t m = 0; m < modules_.size(); ++m) Refile(m);
}

void Schedule::Arm(size_t entry) {
  MakePending(entry);
  states_[entry].misses = 0;
  Refile(states_[entry].module);
}

void Schedule::Disarm(size_t entry) {
  Finish(entry);
  Refile(states_[entry].module);
}

size_t Schedule::TriggerOf(const ModuleState& module) {
  ++examined_;
  // Writes come first, but a module's writes pending here wait for its gate.
  if (module.reads.empty()) return *module.pending.begin();
  return std::get<size_t>(*module.reads.begin());
}

std::optional<size_t> Schedule::Next(Clock::time_point now) {
  examined_ = 0;
  now_ = now;
  while (!followers_.empty()) {
    const size_t next = followers_.front();
    followers_.pop_front();
    ++examined_;
    if (states_[next].pending) return next;
  }
  // Writes before reads: someone waits for the switch. A write that spends
  // its module's gate waits for it.
  for (const size_t i : writes_) {
    ++examined_;
    if (states_[i].gatedWrite && modules_[states_[i].module].opensAt > now) continue;
    trigger_ = i;
    return i;
  }
  // Modules never read first: a module's block reads only begin after its
  // scan, so on a line of many modules the last ones scanned would trail
  // the line by their gates. Then open gates, the one open longest first,
  // so that they start to count again soonest and no module falls behind
  // the others while the line is busy; then the items every read serves;
  // then the block reads that wait without a gate (they can fill the time
  // until the gates open).
  while (!shut_.empty() && shut_.begin()->first <= now) {
    ++examined_;
    Refile(shut_.begin()->second);
  }
  while (!ready_.empty()) {
    const size_t m = std::get<3>(*ready_.begin());
    if (!Open(modules_[m], now)) {  // the clock went back
      ++examined_;
      Refile(m);
      continue;
    }
    trigger_ = TriggerOf(modules_[m]);
    return trigger_;
  }
  if (!eachRead_.empty()) {
    ++examined_;
    return *eachRead_.begin();
  }
  if (!blockWait_.empty()) {
    trigger_ = TriggerOf(modules_[blockWait_.begin()->second]);
    return trigger_;
  }
  return std::nullopt;
}

Schedule::Clock::time_point Schedule::NextGate() const {
  std::optional<Clock::time_point> next;
  if (!shut_.empty()) next = shut_.begin()->first;
  for (const auto& [touched, opened, first, m] : ready_)
    next = std::min(next.value_or(modules_[m].opensAt), modules_[m].opensAt);
  return next.value_or(Clock::now());
}

void Schedule::QueueFollowers(size_t trigger) {
  const EntryState& t = states_[trigger];
  const Block& block = blocks_[t.block];
  for (size_t fresh = 0; fresh + 1 < block.starts.size(); ++fresh) {
    if (fresh == t.fresh) continue;
    for (uint32_t k = block.starts[fresh]; k < block.starts[fresh + 1]; ++k) {
      const size_t i = block.entries[k];
      ++examined_;
      if (!states_[i].pending) continue;
      followers_.push_back(i);
      break;
    }
  }
  std::sort(followers_.begin(), followers_.end());
}

void Schedule::Record(size_t entry, Clock::time_point began, int code, Clock::time_point ended) {
  examined_ = 1;
  EntryState& state = states_[entry];
  const bool trigger = trigger_ == entry;
  if (trigger) trigger_.reset();
  ModuleState& module = modules_[state.module];
  const RefreshRule rule = module.rule;
  const bool touched = module.touched;
  module.touched = true;
  if (code == ErrDelayNotElapsed && rule != RefreshRule::kEachRead) {
    // A follower waits for a block read of its own; a trigger for the gate.
    if (trigger && Gated(rule)) {
      module.opensAt = std::max(module.opensAt, WholeSecond(ended) + seconds(1));
      if (touched && ++state.misses >= kTriggerMisses) Finish(entry);
    }
    Refile(state.module);
    return;
  }
  Finish(entry);
  state.failed = code != ErrOk && code != ErrDelayNotElapsed;
  state.last = began;
  if (trigger && rule != RefreshRule::kEachRead) {
    // The gate opened in the second the call began, or for a module's first
    // read after its scan. A failed scan (24) never reached the gate.
    if (Gated(rule) && code != ErrInitModule)
      module.opensAt = WholeSecond(touched ? began : ended) + kGatePeriod;
    if (!state.write) QueueFollowers(entry);
  }
  Refile(state.module);
}

}  // namespace tarvo::tools
