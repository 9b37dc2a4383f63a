// A plant polled through one driver object per class on one line: each poll
// reads every item once, in the order the Schedule gives, and waits for the
// modules' gates in between.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "tools/poll/driver_classes.h"
#include "tools/poll/poll_session.h"
#include "tools/poll/readings.h"
#include "tools/poll/schedule.h"

namespace tarvo::tools {

struct PlantMember {
  const DriverClass* driverClass;
  PollSession* session;  // its items parsed; outlives the poller
};

class PlantPoller {
 public:
  using Clock = std::chrono::system_clock;
  // Sleeps until the time given or until the run is interrupted.
  using Sleeper = std::function<void(Clock::time_point)>;

  // What a poll asks of its caller, all on the polling thread.
  struct Hooks {
    std::function<bool()> stopped;  // the poll ends at once
    Sleeper sleep;                  // while every item waits for a gate; may return early
    std::function<void()> between;  // before each driver call (e.g. to Arm a write)
    // After each driver call: the slot and its reading, code 23 included.
    std::function<void(size_t slot, const ItemReading&)> called;
  };

  explicit PlantPoller(std::vector<PlantMember> members);

  // The member's driver object was made at `when` (its gates count from it).
  void ObjectCreated(size_t member, Clock::time_point when) {
    schedule_.ObjectCreated(member, when);
  }

  // One poll: the writes (first poll only) and every read, until each is
  // refreshed or failed, or stopped() says the run ends. An item that did
  // not get its turn shows its last value, waiting.
  PollRecord Poll(int number, const Hooks& hooks);
  PollRecord Poll(int number, const std::function<bool()>& stopped, const Sleeper& sleep) {
    return Poll(number, Hooks{stopped, sleep, {}, {}});
  }

  // The slot of a member's write or read item: the index of its reading
  // in a poll that has them all.
  size_t SlotOf(size_t member, bool write, size_t index) const;
  size_t slots() const { return slots_.size(); }
  // Writes `value` with a write slot made on demand, first thing in the
  // poll running or the next.
  void Arm(size_t slot, uint32_t value);
  void Disarm(size_t slot) { schedule_.Disarm(slot); }
  // Whether an armed write is still to be made (a write the gate refused
  // with code 23 is tried again, a few times).
  bool Armed(size_t slot) const { return !schedule_.done(slot); }

 private:
  struct Slot {
    size_t member;
    bool write;
    size_t index;  // in the member's session
  };
  // A reading for a slot not refreshed in this poll: its last value, if any.
  ItemReading Waiting(size_t slot, const ExplainedError& why) const;

  std::vector<PlantMember> members_;
  std::vector<Slot> slots_;  // in the order of the schedule's entries
  Schedule schedule_;
  std::vector<std::optional<ItemReading>> last_;  // the last reading with a value
  bool firstPoll_ = true;
};

// The schedule entry of an item of a class: which module, which block read
// refreshes it and which fresh value it takes.
ScheduleEntry EntryOf(const DriverClass& c, size_t group, const IoItem& item, bool write);

}  // namespace tarvo::tools
