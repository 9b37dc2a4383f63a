#include "tools/poll/plant_poller.h"

#include <fmt/format.h>

namespace tarvo::tools {
namespace {

// Register indexes of the pxr5760 values that share a fresh flag: a
// point's DI and DO of one bit, and its LT and AD sub-channels (a block read
// brings one sub-channel's record).
constexpr int16_t kPxr5760Lt = 4;
constexpr int16_t kPxr5760Di = 5;
constexpr int16_t kPxr5760Do = 6;
constexpr int16_t kPxr5760Ad = 7;

std::vector<ScheduleEntry> Entries(const std::vector<PlantMember>& members) {
  std::vector<ScheduleEntry> entries;
  for (size_t m = 0; m < members.size(); ++m) {
    const PollSession& session = *members[m].session;
    for (size_t i = 0; i < session.writes(); ++i) {
      entries.push_back(EntryOf(*members[m].driverClass, m, session.writeRecord(i), true));
      entries.back().onDemand = session.onDemand(i);
    }
    for (size_t i = 0; i < session.reads(); ++i)
      entries.push_back(EntryOf(*members[m].driverClass, m, session.readRecord(i), false));
  }
  return entries;
}

}  // namespace

ScheduleEntry EntryOf(const DriverClass& c, size_t group, const IoItem& item, bool write) {
  ScheduleEntry entry;
  entry.group = group;
  entry.rule = c.refresh;
  entry.module = item.ModuleAddress;
  entry.block = c.refresh == RefreshRule::kChannelGate ? item.Channel : 0;
  entry.write = write;
  entry.gatedWrite = write && c.writeGateSeconds > 0;
  const int16_t reg = item.RegisterIndex;
  std::string value = fmt::format("register {}", reg);
  if (c.family == "pxr5760" && (reg == kPxr5760Lt || reg == kPxr5760Ad)) value = "sub-channel";
  if (c.family == "pxr5760" && (reg == kPxr5760Di || reg == kPxr5760Do))
    value = fmt::format("bit {}", item.SubIndex);
  entry.flag = fmt::format("{}.{}.{} {}", item.ModuleAddress, item.Channel, item.Point, value);
  return entry;
}

PlantPoller::PlantPoller(std::vector<PlantMember> members)
    : members_(std::move(members)), schedule_(Entries(members_)) {
  for (size_t m = 0; m < members_.size(); ++m) {
    for (size_t i = 0; i < members_[m].session->writes(); ++i) slots_.push_back({m, true, i});
    for (size_t i = 0; i < members_[m].session->reads(); ++i) slots_.push_back({m, false, i});
  }
  last_.resize(slots_.size());
}

ItemReading PlantPoller::Waiting(size_t slot, const ExplainedError& why) const {
  ItemReading reading = last_[slot] ? *last_[slot]
                                    : members_[slots_[slot].member].session->Describe(
                                          slots_[slot].write, slots_[slot].index);
  reading.ok = false;
  reading.waiting = true;
  reading.error = why;
  return reading;
}

size_t PlantPoller::SlotOf(size_t member, bool write, size_t index) const {
  for (size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].member == member && slots_[i].write == write && slots_[i].index == index)
      return i;
  return slots_.size();
}

void PlantPoller::Arm(size_t slot, uint32_t value) {
  members_[slots_[slot].member].session->SetWriteValue(slots_[slot].index, value);
  schedule_.Arm(slot);
}

PollRecord PlantPoller::Poll(int number, const Hooks& hooks) {
  schedule_.StartPoll();
  std::vector<std::optional<ItemReading>> current(slots_.size());
  while (true) {
    if (hooks.between) hooks.between();
    if (schedule_.PollDone() || hooks.stopped()) break;
    const std::optional<size_t> next = schedule_.Next(Clock::now());
    if (!next) {
      hooks.sleep(schedule_.NextGate());
      continue;
    }
    const Slot& slot = slots_[*next];
    PollSession& session = *members_[slot.member].session;
    const Clock::time_point began = Clock::now();
    ItemReading reading = slot.write ? session.WriteOne(slot.index) : session.ReadOne(slot.index);
    const int code = reading.ok ? 0 : reading.error.code().value_or(-1);
    schedule_.Record(*next, began, code);
    if (hooks.called) hooks.called(*next, reading);
    if (code != kGateShutCode) {
      if (reading.ok) last_[*next] = reading;
      current[*next] = std::move(reading);
    } else if (schedule_.done(*next)) {
      current[*next] = Waiting(*next, reading.error);
    }
  }
  PollRecord poll{number, Clock::now(), {}};
  const ExplainedError notRead{"(not read)", {}, "the run ended before its turn"};
  for (size_t i = 0; i < slots_.size(); ++i) {
    if (current[i])
      poll.readings.push_back(std::move(*current[i]));
    else if (!slots_[i].write ||
             (firstPoll_ && !members_[slots_[i].member].session->onDemand(slots_[i].index)))
      poll.readings.push_back(Waiting(i, notRead));
  }
  firstPoll_ = false;
  return poll;
}

}  // namespace tarvo::tools
