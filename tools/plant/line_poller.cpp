#include "tools/plant/line_poller.h"

#include <fmt/format.h>

#include <algorithm>

namespace tarvo::tools {
namespace {

using std::chrono::seconds;

// The codes of a port that fails: its state, writing to it, reading from
// it. A module that does not answer fails with them too (a pxr5700 with
// ErrPortRead, as for a read the system refuses; other families with codes
// of their own), so only a poll in which every call failed, one with these,
// takes the line for failed: it is closed and opened again, at growing
// intervals until a call succeeds.
constexpr int kPortFaultCodes[] = {ErrPortState, ErrPortWrite, ErrPortRead};
constexpr seconds kLongestGateWait{2};
constexpr seconds kFirstBackOff{1};
constexpr seconds kLongestBackOff{30};
// A stop asked for from a signal handler cannot wake a wait: waits look
// for it this often.
constexpr std::chrono::milliseconds kStopCheck{100};

bool IsPortFault(const ItemReading& reading) {
  const std::optional<int> code = reading.error.code();
  return code && std::find(std::begin(kPortFaultCodes), std::end(kPortFaultCodes), *code) !=
                     std::end(kPortFaultCodes);
}

}  // namespace

ExplainedError SupersededWrite() {
  return {"(superseded)", {}, "a later write to the item came first"};
}

double DefaultIntervalSeconds(const LineConfig& config, const SharedLine& line) {
  if (config.intervalSeconds) return *config.intervalSeconds;
  double interval = 0;
  for (size_t m = 0; m < line.size(); ++m)
    interval = std::max(interval, line.driverClass(m).defaultIntervalSeconds);
  return interval;
}

LinePoller::LinePoller(const DriverLibrary& library, std::vector<LineMember> members,
                       LineConfig config, std::string program, int32_t mappedPort)
    : line_(library, std::move(members), std::move(program), mappedPort),
      config_(std::move(config)) {
  CountTraffic(library);
}

LinePoller::~LinePoller() { Stop(); }

bool LinePoller::ParseItems(bool strict, bool makePlantWrites) {
  if (!line_.ParseItems(strict)) return false;
  makePlantWrites_ = makePlantWrites;
  timeouts_ = line_.Timeouts(config_);
  std::vector<ScheduleEntry> entries;
  for (size_t m = 0; m < line_.size(); ++m) {
    for (size_t r = 0; r < line_.session(m).reads(); ++r) {
      items_.push_back({m, r});
      entries.push_back(
          ScheduleEntryOf(line_.driverClass(m), m, line_.session(m).readRecord(r), false));
    }
  }
  for (const Item& item : items_) {
    entries.push_back(ScheduleEntryOf(line_.driverClass(item.member), item.member,
                                      line_.session(item.member).readRecord(item.read), true));
    entries.back().onDemand = true;
  }
  for (size_t m = 0; m < line_.size(); ++m) {
    plantWritesFrom_.push_back(entries.size());
    for (size_t w = 0; w < line_.session(m).writes(); ++w) {
      entries.push_back(
          ScheduleEntryOf(line_.driverClass(m), m, line_.session(m).writeRecord(w), true));
      entries.back().onDemand = !makePlantWrites;  // never armed: never made
    }
  }
  last_.resize(entries.size());
  schedule_.emplace(std::move(entries));
  // The objects were made on the wall clock; the schedule counts on the gates'.
  const Clock::duration toGateTime = clock_->GateNow() - clock_->Now();
  for (size_t m = 0; m < line_.size(); ++m)
    schedule_->ObjectCreated(m, line_.created(m) + toGateTime);
  return true;
}

const ItemSpec& LinePoller::spec(size_t item) const {
  return line_.session(items_[item].member).readSpec(items_[item].read);
}

const DriverClass& LinePoller::driverClass(size_t item) const {
  return line_.driverClass(items_[item].member);
}

int LinePoller::module(size_t item) const {
  return line_.session(items_[item].member).readRecord(items_[item].read).ModuleAddress;
}

bool LinePoller::Writable(size_t item) const {
  return line_.session(items_[item].member).Writable(spec(item).address);
}

size_t LinePoller::PlantWriteCall(size_t member, size_t write) const {
  return plantWritesFrom_[member] + write;
}

size_t LinePoller::PlantWriteMember(size_t call) const {
  return static_cast<size_t>(
      std::upper_bound(plantWritesFrom_.begin(), plantWritesFrom_.end(), call) -
      plantWritesFrom_.begin() - 1);
}

std::optional<uint32_t> LinePoller::Submit(size_t item, uint32_t value) {
  std::optional<uint32_t> superseded;
  {
    const std::lock_guard lock(mutex_);
    const auto waiting = std::find_if(requests_.begin(), requests_.end(),
                                      [&](const Request& r) { return r.item == item; });
    if (waiting == requests_.end()) {
      requests_.push_back({item, value});
    } else {
      superseded = waiting->value;
      waiting->value = value;
    }
  }
  wake_.notify_all();
  return superseded;
}

ItemReading LinePoller::Call(size_t call) {
  if (call < items_.size()) return line_.session(items_[call].member).ReadOne(items_[call].read);
  if (call < 2 * items_.size()) {
    const Item& item = items_[call - items_.size()];
    return line_.session(item.member).WriteValue(item.read, armed_.at(call - items_.size()));
  }
  const size_t member = PlantWriteMember(call);
  return line_.session(member).WriteOne(call - plantWritesFrom_[member]);
}

std::pair<size_t, int> LinePoller::Target(size_t call) const {
  if (call < 2 * items_.size()) {
    const Item& item = items_[call % items_.size()];
    return {item.member, line_.session(item.member).readRecord(item.read).ModuleAddress};
  }
  const size_t member = PlantWriteMember(call);
  return {member, line_.session(member).writeRecord(call - plantWritesFrom_[member]).ModuleAddress};
}

ItemReading LinePoller::Describe(size_t call) const {
  if (call < 2 * items_.size()) {
    const Item& item = items_[call % items_.size()];
    ItemReading reading = line_.session(item.member).Describe(false, item.read);
    reading.write = call >= items_.size();
    reading.discrete = reading.discrete || reading.write;
    return reading;
  }
  const size_t member = PlantWriteMember(call);
  return line_.session(member).Describe(true, call - plantWritesFrom_[member]);
}

ItemReading LinePoller::Waiting(size_t call, const ExplainedError& why) const {
  ItemReading reading = Describe(call);
  if (const LastValue& last = last_[call]; last.readAt) {
    reading.hasValue = true;
    reading.analog = last.analog;
    reading.discreteValue = last.discreteValue;
    reading.readAt = last.readAt;
  }
  reading.ok = false;
  reading.waiting = true;
  reading.error = why;
  return reading;
}

void LinePoller::TakeWrites() {
  std::deque<Request> requests;
  {
    const std::lock_guard lock(mutex_);
    requests.swap(requests_);
  }
  for (const Request& request : requests) {
    if (!open_) {
      observer_->Written(request.item, request.value,
                         {"(line down)", {}, "the line is closed: " + lineProblem_}, false);
      continue;
    }
    if (auto armed = armed_.find(request.item); armed != armed_.end())
      observer_->Written(request.item, armed->second, SupersededWrite(), false);
    armed_[request.item] = request.value;
    schedule_->Arm(WriteCall(request.item));
  }
}

PollRecord LinePoller::Poll() {
  const Clock::time_point started = clock_->Now();
  schedule_->StartPoll();
  // Per call, its reading of this poll in readings, if any.
  constexpr uint32_t kNone = UINT32_MAX;
  std::vector<uint32_t> current(last_.size(), kNone);
  std::vector<ItemReading> readings;
  // Every read, and the plant's writes in the first poll: a full line's
  // readings are not moved while the vector grows.
  if (keepReadings_)
    readings.reserve(items_.size() + (firstPoll_ ? last_.size() - 2 * items_.size() : 0));
  std::vector<bool> failed(keepReadings_ ? 0 : last_.size());  // per call, its last reading
  while (true) {
    TakeWrites();
    if (schedule_->PollDone() || stopping_) break;
    const std::optional<size_t> next = schedule_->Next(clock_->GateNow());
    if (!next) {
      // No gate stays shut longer than its period.
      WaitUntil(clock_->Now() +
                std::clamp<Clock::duration>(schedule_->NextGate() - clock_->GateNow(),
                                            Clock::duration::zero(), kLongestGateWait));
      continue;
    }
    const size_t call = *next;
    const Clock::time_point began = clock_->GateNow();
    Traffic traffic;
    ItemReading reading;
    {
      const TrafficScope counted(&traffic);
      reading = Call(call);
    }
    const auto [member, module] = Target(call);
    const int code = reading.ok ? ErrOk : reading.error.code().value_or(-1);
    // A command the port could not send (or a port not open) tells nothing
    // of the module.
    if (code != ErrPortWrite && code != ErrPortState)
      silent_.Add(std::string(line_.driverClass(member).family), module, traffic);
    schedule_->Record(call, began, code, clock_->GateNow());
    if (IsPortFault(reading) && !fault_) fault_ = reading.error;
    answered_ = answered_ || reading.ok;
    if (call < 2 * items_.size()) observer_->Called(call % items_.size(), reading);
    const bool retried = code == ErrDelayNotElapsed && !schedule_->done(call);
    if (call >= items_.size() && call < 2 * items_.size() && !retried) {
      const size_t item = call - items_.size();
      const uint32_t value = armed_.at(item);
      armed_.erase(item);
      observer_->Written(item, value, reading.error, reading.ok);
    }
    if (call >= 2 * items_.size() && !retried) observer_->PlantWritten(reading);
    if (code != ErrDelayNotElapsed) {
      if (reading.ok) last_[call] = {reading.analog, reading.discreteValue, reading.readAt};
    } else if (schedule_->done(call)) {
      reading = Waiting(call, reading.error);
    } else {
      continue;
    }
    if (!keepReadings_) {
      failed[call] = reading.failed();
      continue;
    }
    if (current[call] == kNone) {
      current[call] = static_cast<uint32_t>(readings.size());
      readings.push_back(std::move(reading));
    } else {
      readings[current[call]] = std::move(reading);
    }
  }
  if (!keepReadings_) {
    PollRecord poll{++polls_, clock_->Now(), {}, started};
    poll.failed = std::find(failed.begin(), failed.end(), true) != failed.end();
    return Ended(std::move(poll));
  }
  // The record's order: per member its plant writes, its items' writes,
  // its items' reads. The readings are put in that order where they are,
  // not copied: a full line's are tens of megabytes.
  const ExplainedError notRead{"(not read)", {}, "the run ended before its turn"};
  std::vector<uint32_t> order;  // the reading at each place of the record
  order.reserve(readings.size());
  auto take = [&](size_t call, bool always) {
    if (current[call] == kNone) {
      if (!always) return;
      current[call] = static_cast<uint32_t>(readings.size());
      readings.push_back(Waiting(call, notRead));
    }
    order.push_back(current[call]);
  };
  for (size_t m = 0; m < line_.size(); ++m) {
    for (size_t w = 0; w < line_.session(m).writes(); ++w)
      take(PlantWriteCall(m, w), firstPoll_ && makePlantWrites_);
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].member == m) take(WriteCall(i), false);
    for (size_t i = 0; i < items_.size(); ++i)
      if (items_[i].member == m) take(i, true);
  }
  // Every reading has one place: follow each cycle of the permutation.
  std::vector<bool> placed(order.size());
  for (size_t start = 0; start < order.size(); ++start) {
    if (placed[start]) continue;
    ItemReading first = std::move(readings[start]);
    size_t at = start;
    for (; order[at] != start; at = order[at]) {
      readings[at] = std::move(readings[order[at]]);
      placed[at] = true;
    }
    readings[at] = std::move(first);
    placed[at] = true;
  }
  PollRecord poll{++polls_, clock_->Now(), std::move(readings), started};
  poll.failed = std::any_of(poll.readings.begin(), poll.readings.end(),
                            [](const ItemReading& r) { return r.failed(); });
  return Ended(std::move(poll));
}

PollRecord LinePoller::Ended(PollRecord poll) {
  firstPoll_ = false;
  for (const std::string& message : silent_.PollEnded()) observer_->ModuleSilent(message);
  observer_->PollEnded(poll);
  return poll;
}

std::optional<std::string> LinePoller::Open() {
  const std::optional<std::string> problem = line_.Open(config_, timeouts_);
  if (problem) {
    observer_->OpenFailed();
    // Said and reported when it is new, not at every try.
    if (*problem != lineProblem_) {
      observer_->Say(fmt::format("{}; opening it again every {} to {} s", *problem,
                                 kFirstBackOff.count(), kLongestBackOff.count()));
      lineProblem_ = *problem;
      LineFailed(line_.openError().codes.empty()
                     ? ExplainedError{*problem, {}, "the line cannot be opened"}
                     : line_.openError());
    }
    return problem;
  }
  observer_->Say(fmt::format("open: {} at {}", line_.portText(), line_.lineText()));
  open_ = true;
  lineProblem_.clear();
  observer_->LineUp();
  return std::nullopt;
}

void LinePoller::Close() {
  line_.Close();
  open_ = false;
}

void LinePoller::LineFailed(const ExplainedError& error) {
  open_ = false;
  observer_->LineDown(error);
  for (const auto& [item, value] : armed_) {
    schedule_->Disarm(WriteCall(item));
    observer_->Written(item, value, error, false);
  }
  armed_.clear();
}

void LinePoller::WaitUntil(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  while (!stopping_ && requests_.empty() && clock_->Now() < until)
    clock_->WaitUntil(wake_, lock, std::min(until, clock_->Now() + kStopCheck));
}

void LinePoller::Pause(Clock::duration duration) { WaitUntil(clock_->Now() + duration); }

void LinePoller::Run() {
  const auto pause = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(DefaultIntervalSeconds(config_, line_)));
  // Grows with each wait until a call succeeds: a line that opens but
  // whose every call fails (its only module silent) is not reopened at
  // once each time.
  Clock::duration backOff = kFirstBackOff;
  auto waitToReopen = [&] {
    WaitUntil(clock_->Now() + backOff);
    backOff = std::min<Clock::duration>(backOff * 2, kLongestBackOff);
  };
  while (!stopping_) {
    if (!open_ && Open()) {
      waitToReopen();
      TakeWrites();  // answered: the line is down
      continue;
    }
    fault_.reset();
    answered_ = false;
    Poll();
    if (answered_) backOff = kFirstBackOff;
    if (fault_ && !answered_) {
      observer_->Say(fmt::format("{}; closing the line to open it again in {} s", fault_->Display(),
                                 std::chrono::duration_cast<seconds>(backOff).count()));
      line_.Close();
      lineProblem_ = fault_->Display();
      LineFailed(*fault_);
      waitToReopen();
      continue;
    }
    WaitUntil(clock_->Now() + pause);
  }
  Close();
}

void LinePoller::Start() {
  thread_ = std::thread([this] { Run(); });
}

void LinePoller::Stop() {
  stopping_ = true;
  {
    const std::lock_guard lock(mutex_);  // a waiter between its check and its wait
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

}  // namespace tarvo::tools
