#include "tools/gateway/line_worker.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "tools/common/time_text.h"
#include "tools/gateway/gateway_log.h"
#include "tools/poll/driver_classes.h"

namespace tarvo::tools {
namespace {

using std::chrono::seconds;

// The codes of a port that fails: its state, writing to it, reading from
// it. A module that does not answer fails with them too (a pxr5700 with
// 17), so only a poll in which every call failed, one with these, takes
// the line for failed: it is closed and opened again.
constexpr int kPortFaultCodes[] = {13, 16, 17};
constexpr seconds kFirstBackOff{1};
constexpr seconds kLongestBackOff{30};

thread_local int exchangesSent = 0;

void CountSent(void*, const char* label, const uint8_t*, int32_t) {
  if (label != nullptr && std::strstr(label, "Send") != nullptr) ++exchangesSent;
}

std::vector<LineMember> Members(const GatewayLine& line) {
  std::string unknown;
  // The plant reader has checked the class names.
  return MergeClassGroups(line.options.groups, &unknown).value_or(std::vector<LineMember>{});
}

bool IsPortFault(const ItemReading& reading) {
  const std::optional<int> code = reading.error.code();
  return code && std::find(std::begin(kPortFaultCodes), std::end(kPortFaultCodes), *code) !=
                     std::end(kPortFaultCodes);
}

// tarvo-poll's time-out warning in the words of the plant file.
std::string PlantFileWarning(std::string text) {
  const std::string_view program = "tarvo-poll: ";
  if (text.starts_with(program)) text.erase(0, program.size());
  text.erase(text.find_last_not_of('\n') + 1);
  const size_t option = text.find("use -t ");
  if (option != std::string::npos) {
    const size_t number = option + 7;
    const size_t end = text.find(' ', number);
    text = text.substr(0, option) + "set \"timeout_ms\" to " + text.substr(number, end - number) +
           " or more, or leave it out";
  }
  return text;
}

}  // namespace

void CountExchanges(const DriverLibrary& library) { library.SetTraceHandler(&CountSent, nullptr); }

LineWorker::LineWorker(const DriverLibrary& library, GatewayLine line, int32_t mappedPort,
                       PlantStatus& status, const std::string& prefix, Publisher publish,
                       bool verbose)
    : line_(std::move(line)),
      status_(status),
      prefix_(prefix),
      publish_(std::move(publish)),
      verbose_(verbose),
      shared_(library, Members(line_), "tarvo-gateway", mappedPort) {}

LineWorker::~LineWorker() { Stop(); }

void LineWorker::Say(const std::string& message) const {
  Log(fmt::format("line {}: {}", line_.name, message));
}

bool LineWorker::Prepare(const std::string& libraryPath) {
  if (!shared_.CreateObjects(libraryPath) || !shared_.ParseItems(true)) return false;
  status_.AddLine(line_.name);
  // A write on demand for every item of a register the driver can write.
  std::vector<std::vector<std::optional<size_t>>> writeOf(shared_.size());
  for (size_t m = 0; m < shared_.size(); ++m) {
    PollSession& session = shared_.session(m);
    for (const ItemSpec& spec : shared_.group(m).items) {
      writeOf[m].emplace_back();
      std::string unused;
      if (session.Writable(spec.address) && session.AddWrite(spec.address + "=0", &unused, true))
        writeOf[m].back() = session.writes() - 1;
    }
  }
  poller_.emplace(shared_.Poller());
  timeouts_ = shared_.Timeouts(line_.options);
  for (size_t m = 0; m < shared_.size(); ++m) {
    const PollSession& session = shared_.session(m);
    for (size_t r = 0; r < session.reads(); ++r) {
      const ItemSpec& spec = shared_.group(m).items[r];
      ItemIdentity id;
      id.line = line_.name;
      id.family = std::string(shared_.driverClass(m).family);
      id.module = session.readRecord(r).ModuleAddress;
      id.item = spec.address;
      id.name = spec.name;
      id.unit = spec.unit;
      id.topic = fmt::format("{}/{}/{}", prefix_, line_.name,
                             spec.topic.empty() ? spec.address : spec.topic);
      Item item{status_.AddItem(id), poller_->SlotOf(m, false, r), std::nullopt, "", "", ""};
      if (writeOf[m][r]) {
        item.writeSlot = poller_->SlotOf(m, true, *writeOf[m][r]);
        item.setTopic = id.topic + "/set";
        item.resultTopic = id.topic + "/result";
      }
      items_.push_back(item);
    }
  }
  // The writes of the plant file (first poll) have no item of their own.
  itemOfSlot_.assign(poller_->slots(), std::nullopt);
  for (size_t i = 0; i < items_.size(); ++i) {
    itemOfSlot_[items_[i].readSlot] = i;
    if (items_[i].writeSlot) itemOfSlot_[*items_[i].writeSlot] = i;
  }
  return true;
}

std::vector<std::string> LineWorker::SetTopics() const {
  std::vector<std::string> topics;
  for (const Item& item : items_)
    if (item.writeSlot) topics.push_back(item.setTopic);
  return topics;
}

bool LineWorker::HandleSet(const std::string& topic, const std::string& payload) {
  const auto item = std::find_if(items_.begin(), items_.end(),
                                 [&](const Item& i) { return i.writeSlot && i.setTopic == topic; });
  if (item == items_.end()) return false;
  const size_t index = static_cast<size_t>(item - items_.begin());
  std::string text = payload;
  text.erase(0, text.find_first_not_of(" \t\r\n"));
  text.erase(text.find_last_not_of(" \t\r\n") + 1);
  const std::optional<uint32_t> value = PollSession::SwitchValue(text);
  if (!value) {
    AnswerWrite(index, std::nullopt,
                {fmt::format("\"{}\" is not a value to write", payload),
                 {},
                 "the value must be 0, 1, on or off (or true, false)"},
                false);
    return true;
  }
  {
    const std::lock_guard lock(mutex_);
    requests_.push_back({index, *value});
  }
  wake_.notify_all();
  return true;
}

void LineWorker::AnswerWrite(size_t item, std::optional<uint32_t> value,
                             const ExplainedError& outcome, bool ok) {
  const std::optional<int> code = CodeOf(outcome);
  const nlohmann::ordered_json answer{
      {"item", status_.identity(items_[item].status).item},
      {"value", value ? nlohmann::ordered_json(*value) : nlohmann::ordered_json(nullptr)},
      {"ok", ok},
      {"code", code ? nlohmann::ordered_json(*code) : nlohmann::ordered_json(nullptr)},
      {"error", outcome.text},
      {"gloss", outcome.gloss},
      {"time", IsoTime(Clock::now())}};
  publish_({items_[item].resultTopic, answer.dump(), false});
  Say(fmt::format("{} {} {}", status_.identity(items_[item].status).item,
                  value ? fmt::format("set to {}:", *value) : std::string("not set:"),
                  ok ? std::string("written") : outcome.Display()));
}

void LineWorker::TakeWrites() {
  std::deque<WriteRequest> requests;
  {
    const std::lock_guard lock(mutex_);
    requests.swap(requests_);
  }
  for (const WriteRequest& request : requests) {
    const Item& item = items_[request.item];
    if (!open_) {
      AnswerWrite(request.item, request.value,
                  {"(line down)", {}, "the line is closed: " + lineProblem_}, false);
      continue;
    }
    if (auto armed = armed_.find(request.item); armed != armed_.end())
      AnswerWrite(request.item, armed->second,
                  {"(superseded)", {}, "a later write to the item came first"}, false);
    poller_->Arm(*item.writeSlot, request.value);
    armed_[request.item] = request.value;
  }
}

void LineWorker::Called(size_t slot, const ItemReading& reading) {
  const int exchanges = exchangesSent;
  exchangesSent = 0;
  if (IsPortFault(reading) && !fault_) fault_ = reading.error;
  answered_ = answered_ || reading.ok;
  if (!itemOfSlot_[slot]) return;  // a write of the plant file
  const size_t index = *itemOfSlot_[slot];
  Item& item = items_[index];
  status_.CountCall(item.status, exchanges, reading);
  const bool gateShut = reading.error.code() == kGateShutCode;
  if (reading.write) {
    if (gateShut && poller_->Armed(slot)) return;  // tried again at the gate's next opening
    armed_.erase(index);
    AnswerWrite(index, reading.discreteValue, reading.error, reading.ok);
    return;
  }
  if (gateShut) return;
  publish_(status_.Record(item.status, reading));
  const std::string& address = status_.identity(item.status).item;
  if (verbose_)
    Say(fmt::format("{} = {}", address,
                    reading.ok ? FormatValue(reading) : reading.error.Display()));
  if (!reading.ok && item.lastError != reading.error.text) {
    Say(fmt::format("{} fails: {}", address, reading.error.Display()));
    item.lastError = reading.error.text;
  } else if (reading.ok && !item.lastError.empty()) {
    Say(fmt::format("{} reads again", address));
    item.lastError.clear();
  }
}

PlantPoller::Hooks LineWorker::Hooks() {
  return {[this] {
            const std::lock_guard lock(mutex_);
            return stopping_;
          },
          [this](Clock::time_point until) { WaitUntil(until); }, [this] { TakeWrites(); },
          [this](size_t slot, const ItemReading& reading) { Called(slot, reading); }};
}

bool LineWorker::OpenLine() {
  const std::optional<std::string> problem = shared_.Open(line_.options, timeouts_);
  if (problem) {
    // Said and published when it is new, not at every try.
    if (*problem != lineProblem_) {
      Say(fmt::format("{}; opening it again every {} to {} s", *problem, kFirstBackOff.count(),
                      kLongestBackOff.count()));
      lineProblem_ = *problem;
      LineFailed(shared_.openError().codes.empty()
                     ? ExplainedError{*problem, {}, "the line cannot be opened"}
                     : shared_.openError());
    }
    return false;
  }
  Say(fmt::format("open: {} at {}", shared_.portText(), shared_.lineText()));
  for (const std::string& warning : shared_.TimeoutWarnings(line_.options, timeouts_))
    Say(PlantFileWarning(warning));
  open_ = true;
  lineProblem_.clear();
  status_.LineUp(line_.name);
  return true;
}

void LineWorker::LineFailed(const ExplainedError& error) {
  open_ = false;
  for (const Message& message : status_.LineDown(line_.name, error)) publish_(message);
  for (const auto& [item, value] : armed_) {
    poller_->Disarm(*items_[item].writeSlot);
    AnswerWrite(item, value, error, false);
  }
  armed_.clear();
}

void LineWorker::WaitUntil(Clock::time_point until) {
  std::unique_lock lock(mutex_);
  wake_.wait_until(lock, until, [&] { return stopping_ || !requests_.empty(); });
}

void LineWorker::Run() {
  double interval = line_.options.intervalSeconds.value_or(0);
  if (!line_.options.intervalSeconds)
    for (size_t m = 0; m < shared_.size(); ++m)
      interval = std::max(interval, shared_.driverClass(m).defaultIntervalSeconds);
  const auto pause =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(interval));
  Clock::duration backOff = kFirstBackOff;
  while (true) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    if (!open_ && !OpenLine()) {
      WaitUntil(Clock::now() + backOff);
      TakeWrites();  // answered: the line is down
      backOff = std::min<Clock::duration>(backOff * 2, kLongestBackOff);
      continue;
    }
    backOff = kFirstBackOff;
    fault_.reset();
    answered_ = false;
    poller_->Poll(++polls_, Hooks());
    if (fault_ && !answered_) {
      Say(fmt::format("{}; closing the line to open it again", fault_->Display()));
      shared_.Close();
      lineProblem_ = fault_->Display();
      LineFailed(*fault_);
      WaitUntil(Clock::now() + backOff);
      continue;
    }
    WaitUntil(Clock::now() + pause);
  }
  shared_.Close();
  open_ = false;
}

void LineWorker::Start() {
  thread_ = std::thread([this] { Run(); });
}

void LineWorker::Stop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool LineWorker::PollOnce() {
  if (!OpenLine()) return false;
  const PollRecord poll = poller_->Poll(++polls_, Hooks());
  shared_.Close();
  open_ = false;
  return !poll.failed();
}

}  // namespace tarvo::tools
