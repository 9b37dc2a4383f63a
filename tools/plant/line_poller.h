// One serial line of a plant, polled: its driver objects (one per class,
// sharing the port), its items, the schedule that reads them in the order
// the modules' gates allow, and the writes asked for. The polling runs on
// one thread (the caller's, or one of its own with Start); every outcome
// goes to the line's observer as it arrives, on that thread. Writes are
// submitted from any thread and made first thing before the next call.
//
// Items are numbered once, in the order of the classes and their items in
// the plant: item i of the line is the same item to every front end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/driver_library.h"
#include "tools/plant/line_config.h"
#include "tools/plant/module_traffic.h"
#include "tools/plant/readings.h"
#include "tools/plant/schedule.h"
#include "tools/plant/shared_line.h"

namespace tarvo::tools {

// What a front end learns of a line, all on the line's polling thread.
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // Something worth a log line: the line opened, failed, is closed.
  virtual void Say(const std::string& /*message*/) {}
  // A module's commands got no byte back in a poll (said once until it
  // answers again); a log line unless the front end shows it otherwise.
  virtual void ModuleSilent(const std::string& message) { Say(message); }
  // The line is open; or it is down with `error` (said once per new problem).
  virtual void LineUp() {}
  virtual void LineDown(const ExplainedError& /*error*/) {}
  // An open of the line failed (every try, said or not).
  virtual void OpenFailed() {}
  // After each driver call on an item, a read or a write, code 23 included.
  virtual void Called(size_t /*item*/, const ItemReading& /*reading*/) {}
  // A write submitted for the item is done: made (ok or not), superseded
  // by a later one, or refused while the line is down.
  virtual void Written(size_t /*item*/, uint32_t /*value*/, const ExplainedError& /*outcome*/,
                       bool /*ok*/) {}
  // One of the plant's writes (made in the first poll) is done, ok or not.
  virtual void PlantWritten(const ItemReading& /*reading*/) {}
  // A poll ended: every item's reading (the plant's writes in the first).
  virtual void PollEnded(const PollRecord& /*poll*/) {}
};

// The poller's time: the system's. A test gives one whose waits pass at once.
class PollerClock {
 public:
  using Clock = std::chrono::system_clock;
  virtual ~PollerClock() = default;
  virtual Clock::time_point Now() { return Clock::now(); }
  // The time the modules' gates count in, as a time point of Clock: the
  // library's, whole seconds of the monotonic clock. Its seconds do not
  // turn when the wall clock's do, and a gated write (pxr5760) tried in
  // the wrong one fails for good rather than waiting.
  virtual Clock::time_point GateNow() {
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::steady_clock::now().time_since_epoch()));
  }
  // Waits on `wake` under `lock` until `until` at the latest; a
  // notification may end it sooner.
  virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                         Clock::time_point until) {
    wake.wait_until(lock, until);
  }
};

class LinePoller {
 public:
  using Clock = PollerClock::Clock;

  // The library must outlive the poller. Messages begin with `program`; a
  // device path is mapped to the port number `mappedPort`.
  LinePoller(const DriverLibrary& library, std::vector<LineMember> members, LineConfig config,
             std::string program, int32_t mappedPort = kMappedPort);
  ~LinePoller();
  LinePoller(const LinePoller&) = delete;
  LinePoller& operator=(const LinePoller&) = delete;

  // Creates the driver objects, one per class. False after a message.
  bool CreateObjects(const std::string& libraryPath) { return line_.CreateObjects(libraryPath); }
  // Parses every item and write; with strict, the address rules must pass
  // too. False after a message for each refusal. Without makePlantWrites
  // the plant's writes are checked all the same, and never made.
  bool ParseItems(bool strict, bool makePlantWrites = true);
  // The observer must outlive the polling; set it before the first poll.
  void SetObserver(LineObserver* observer) { observer_ = observer; }
  // The clock must outlive the polling; set it before the first poll.
  void SetClock(PollerClock* clock) { clock_ = clock; }
  // Without, a poll's record keeps no readings, only whether one failed:
  // its observer had each as it came, and a full line's are tens of
  // megabytes.
  void KeepReadings(bool keep) { keepReadings_ = keep; }

  const SharedLine& line() const { return line_; }
  const LineConfig& config() const { return config_; }
  // Each object's transfer time-out, after ParseItems.
  const std::vector<int>& timeouts() const { return timeouts_; }

  // The items of the line, after ParseItems.
  size_t items() const { return items_.size(); }
  const ItemSpec& spec(size_t item) const;
  const DriverClass& driverClass(size_t item) const;
  int module(size_t item) const;
  // Whether the driver declares the item's register writable.
  bool Writable(size_t item) const;
  // Whether the item's register holds a discrete (0/1) value.
  bool Discrete(size_t item) const { return Describe(item).discrete; }

  // Writes `value` to a writable item before the next driver call, from
  // any thread. A write not yet made when another comes is superseded:
  // one the polling has taken is answered to the observer; one still
  // waiting to be taken is replaced, its value returned for the caller to
  // answer. So the writes waiting are never more than the items.
  std::optional<uint32_t> Submit(size_t item, uint32_t value);

  // Opens the line (nothing) or says why it cannot (said and reported
  // down once per new problem).
  std::optional<std::string> Open();
  void Close();
  // One poll on the caller's thread: the plant's writes (first poll only),
  // the writes submitted, every read, until each is refreshed or failed or
  // the run is stopped.
  PollRecord Poll();
  // Waits for `duration`, or less when the run is stopped or a write
  // submitted.
  void Pause(Clock::duration duration);

  // Opens the line, polls it until Stop, reopens it after a poll in which
  // no call succeeded and the port failed; on the caller's thread. The
  // waits before opening again grow from 1 s to 30 s until a call
  // succeeds. Start does the same on a thread of its own.
  void Run();
  void Start();
  // Ends the run after the call in progress and closes the line.
  void Stop();
  // The same without waiting or waking; safe in a signal handler.
  void RequestStop() noexcept { stopping_ = true; }
  bool stopping() const { return stopping_; }

 private:
  struct Item {
    size_t member;
    size_t read;  // in the member's session
  };
  struct Request {
    size_t item;
    uint32_t value;
  };
  // What a waiting call shows of its last reading with a value; the rest
  // of that reading is its description.
  struct LastValue {
    float analog = 0;
    uint32_t discreteValue = 0;
    std::optional<std::chrono::system_clock::time_point> readAt;  // unset: none yet
  };
  // The schedule's calls: the items' reads, the items' writes, the plant's writes.
  size_t WriteCall(size_t item) const { return items_.size() + item; }
  size_t PlantWriteCall(size_t member, size_t write) const;
  // The member whose plant write a call is.
  size_t PlantWriteMember(size_t call) const;
  ItemReading Call(size_t call);
  // The member and the module a call goes to.
  std::pair<size_t, int> Target(size_t call) const;
  ItemReading Describe(size_t call) const;
  ItemReading Waiting(size_t call, const ExplainedError& why) const;
  void TakeWrites();
  // A poll's end, told.
  PollRecord Ended(PollRecord poll);
  void LineFailed(const ExplainedError& error);
  void WaitUntil(Clock::time_point until);

  SharedLine line_;
  LineConfig config_;
  LineObserver quiet_;
  LineObserver* observer_ = &quiet_;
  PollerClock systemClock_;
  PollerClock* clock_ = &systemClock_;
  std::vector<int> timeouts_;
  std::vector<Item> items_;
  std::vector<size_t> plantWritesFrom_;  // per member: its first plant write's call
  std::optional<Schedule> schedule_;
  std::vector<LastValue> last_;       // per call
  std::map<size_t, uint32_t> armed_;  // item: the value its armed write writes
  SilentModules silent_;
  bool firstPoll_ = true;
  bool makePlantWrites_ = true;
  bool keepReadings_ = true;
  int polls_ = 0;

  bool open_ = false;
  std::string lineProblem_;              // the last said, while the line is down
  std::optional<ExplainedError> fault_;  // a port failure in the poll running
  bool answered_ = false;                // a call of the poll running succeeded

  std::atomic<bool> stopping_ = false;
  std::mutex mutex_;  // guards requests_
  std::condition_variable wake_;
  std::deque<Request> requests_;  // one per item at most
  std::thread thread_;
};

// The outcome of a write that a later one to the same item superseded.
ExplainedError SupersededWrite();

// The default pause between polls of a line: the longest its classes need.
double DefaultIntervalSeconds(const LineConfig& config, const SharedLine& line);

}  // namespace tarvo::tools
