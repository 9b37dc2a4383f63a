#include "tools/gateway/line_worker.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "tools/gateway/gateway_log.h"
#include "tools/gateway/write_payload.h"
#include "tools/plant/driver_classes.h"
#include "tools/plant/module_traffic.h"

namespace tarvo::tools {
namespace {

using Clock = std::chrono::system_clock;

thread_local int exchangesSent = 0;

void CountSent(void*, const char* label, const uint8_t*, int32_t) {
  if (label != nullptr && std::strstr(label, "Send") != nullptr) ++exchangesSent;
}

std::vector<LineMember> Members(const GatewayLine& line) {
  std::string unknown;
  // The plant reader has checked the class names.
  return MergeClassGroups(line.options.groups, &unknown).value_or(std::vector<LineMember>{});
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

// Beside the engine's own count of each module's traffic, which installs
// the trace handler.
void CountExchanges(const DriverLibrary& library) {
  CountTraffic(library);
  ForwardTraffic(&CountSent, nullptr);
}

LineWorker::LineWorker(const DriverLibrary& library, const GatewayLine& line, int32_t mappedPort,
                       PlantStatus& status, const std::string& prefix, Publisher publish,
                       bool verbose)
    : name_(line.name),
      policy_(line.publish),
      itemPolicies_(line.items),
      status_(status),
      prefix_(prefix),
      publish_(std::move(publish)),
      verbose_(verbose),
      poller_(library, Members(line), line.options, "tarvo-gateway", mappedPort) {
  poller_.SetObserver(this);
}

void LineWorker::Say(const std::string& message) {
  Log(fmt::format("line {}: {}", name_, message));
}

bool LineWorker::Check(const std::string& libraryPath, bool makePlantWrites) {
  return poller_.CreateObjects(libraryPath) && poller_.ParseItems(true, makePlantWrites);
}

void LineWorker::Enter() {
  status_.AddLine(name_, poller_.config().port);
  items_.reserve(poller_.items());
  for (size_t i = 0; i < poller_.items(); ++i) {
    const ItemSpec& spec = poller_.spec(i);
    ItemIdentity id;
    id.line = name_;
    id.family = std::string(poller_.driverClass(i).family);
    id.module = poller_.module(i);
    id.item = spec.address;
    id.name = spec.name;
    id.unit = spec.unit;
    id.path = fmt::format("{}/{}", name_, spec.topic.empty() ? spec.address : spec.topic);
    id.topic = fmt::format("{}/{}", prefix_, id.path);
    id.writable = poller_.Writable(i);
    id.discrete = poller_.Discrete(i);
    Item item;
    item.setTopic = id.topic + "/set";
    item.resultTopic = id.topic + "/result";
    item.writable = id.writable;
    item.discrete = id.discrete;
    item.status = status_.AddItem(std::move(id));
    const auto policy = itemPolicies_.find(spec.topic.empty() ? spec.address : spec.topic);
    item.policy = policy == itemPolicies_.end() ? policy_ : policy->second;
    items_.push_back(std::move(item));
  }
}

std::vector<std::string> LineWorker::SetTopics() const {
  std::vector<std::string> topics;
  for (const Item& item : items_) topics.push_back(item.setTopic);
  return topics;
}

void LineWorker::Describe(Discovery& discovery) const {
  discovery.AddLine(name_);
  for (const Item& item : items_)
    discovery.AddItem(status_.identity(item.status), item.discrete, item.writable);
}

std::optional<Message> LineWorker::LineStatus() const {
  const Up up = up_;
  if (up == Up::kUnknown) return std::nullopt;
  return Message{LineStatusTopic(prefix_, name_), up == Up::kOnline ? "online" : "offline", true};
}

bool LineWorker::HandleSet(const std::string& topic, std::string_view payload,
                           const WriteReply& reply) {
  const auto item = std::find_if(items_.begin(), items_.end(),
                                 [&](const Item& i) { return i.setTopic == topic; });
  if (topic.empty() || item == items_.end()) return false;
  const size_t index = static_cast<size_t>(item - items_.begin());
  const WriteRequest request = ParseWritePayload(payload);
  WriteReply answer = reply;
  answer.id = request.id;
  if (!item->writable) {
    const std::string& address = status_.identity(item->status).item;
    const std::string why =
        fmt::format("register {} is read only: only an output can be set", address.substr(0, 2));
    AnswerWrite(index, std::nullopt, {"not an output", {}, why}, false, answer);
    return true;
  }
  if (!request.value) {
    AnswerWrite(index, std::nullopt, request.refusal, false, answer);
    return true;
  }
  Write(index, *request.value, std::move(answer));
  return true;
}

void LineWorker::Write(size_t item, uint32_t value, WriteReply reply) {
  // The write waiting to be taken, if any, is the newest before this one.
  std::unique_lock lock(replies_);
  const std::optional<uint32_t> superseded = poller_.Submit(item, value);
  std::list<WriteReply>& replies = items_[item].replies;
  std::optional<WriteReply> supersededReply;
  if (superseded && !replies.empty()) {
    supersededReply = std::move(replies.back());
    replies.pop_back();
  }
  replies.push_back(std::move(reply));
  lock.unlock();
  if (superseded)
    AnswerWrite(item, *superseded, SupersededWrite(), false,
                supersededReply.value_or(WriteReply{}));
}

WriteReply LineWorker::TakeReply(size_t item) {
  const std::lock_guard lock(replies_);
  std::list<WriteReply>& replies = items_[item].replies;
  if (replies.empty()) return {};
  WriteReply reply = std::move(replies.front());
  replies.pop_front();
  return reply;
}

void LineWorker::AnswerWrite(size_t item, std::optional<uint32_t> value,
                             const ExplainedError& outcome, bool ok, const WriteReply& reply) {
  const ItemIdentity identity = status_.identity(items_[item].status);
  const std::string& address = identity.item;
  const std::string answer =
      WriteResultMessage(address, value, outcome, ok, std::chrono::system_clock::now(), reply.id);
  publish_({items_[item].resultTopic, answer, false});
  if (!reply.responseTopic.empty())
    publish_({reply.responseTopic, answer, false, reply.correlation});
  if (reply.answered) reply.answered(value, outcome, ok);
  EventHub& events = status_.events();
  if (events.listening())
    events.Publish("write", WriteOutcomeText(identity.path, reply.id, outcome, ok));
  LogLimited(fmt::format("line {}: writes", name_),
             fmt::format("line {}: {} {} {}", name_, address,
                         value ? fmt::format("set to {}:", *value) : std::string("not set:"),
                         ok ? std::string("written") : outcome.Display()));
}

void LineWorker::Written(size_t item, uint32_t value, const ExplainedError& outcome, bool ok) {
  AnswerWrite(item, value, outcome, ok, TakeReply(item));
}

void LineWorker::PlantWritten(const ItemReading& reading) {
  const auto item = std::find_if(items_.begin(), items_.end(), [&](const Item& i) {
    return status_.identity(i.status).item == reading.item;
  });
  const std::string topic = item != items_.end()
                                ? item->resultTopic
                                : fmt::format("{}/{}/{}/result", prefix_, name_, reading.item);
  const Message answer{topic,
                       WriteResultMessage(reading.item, reading.discreteValue, reading.error,
                                          reading.ok, reading.readAt.value_or(Clock::now())),
                       false};
  plantWrites_.push_back(answer);
  publish_(answer);
  Say(fmt::format("{} set to {} (the plant file's write): {}", reading.item, reading.discreteValue,
                  reading.ok ? "written" : reading.error.Display()));
}

void LineWorker::Called(size_t index, const ItemReading& reading) {
  const int exchanges = exchangesSent;
  exchangesSent = 0;
  Item& item = items_[index];
  status_.CountCall(item.status, exchanges, reading);
  if (reading.write || reading.error.code() == ErrDelayNotElapsed) return;
  const Message message = status_.Record(item.status, reading);
  Publish(item, message, reading.ok,
          reading.ok && !reading.discrete ? std::stod(FormatValue(reading))
                                          : static_cast<double>(reading.discreteValue),
          reading.error.text);
  const bool failsAnew = !reading.ok && item.lastError != reading.error.text;
  const bool readsAgain = reading.ok && !item.lastError.empty();
  // The item's identity is copied out of the status: only for a log line.
  if (!verbose_ && !failsAnew && !readsAgain) return;
  const std::string address = status_.identity(item.status).item;
  if (verbose_)
    Say(fmt::format("{} = {}", address,
                    reading.ok ? FormatValue(reading) : reading.error.Display()));
  if (failsAnew) {
    Say(fmt::format("{} fails: {}", address, reading.error.Display()));
    item.lastError = reading.error.text;
  } else if (readsAgain) {
    Say(fmt::format("{} reads again", address));
    item.lastError.clear();
  }
}

void LineWorker::Publish(Item& item, const Message& message, bool ok, double value,
                         const std::string& error) {
  const auto now = std::chrono::steady_clock::now();
  if (!ShouldPublish(item.policy, item.published, ok, value, item.discrete, error, now)) return;
  Published published{ok, std::nullopt, error, now};
  if (ok)
    published.value = value;
  else if (item.published)
    published.value = item.published->value;
  item.published = published;
  publish_(message);
}

void LineWorker::PollEnded(const PollRecord& poll) {
  status_.PollEnded(name_, poll.time - poll.started);
}

void LineWorker::LineUp() {
  for (const std::string& warning :
       poller_.line().TimeoutWarnings(poller_.config(), poller_.timeouts()))
    Say(PlantFileWarning(warning));
  status_.LineUp(name_);
  up_ = Up::kOnline;
  publish_(*LineStatus());
}

void LineWorker::LineDown(const ExplainedError& error) {
  up_ = Up::kOffline;
  publish_(*LineStatus());
  // In the order of the items, as they were entered in the status.
  const std::vector<Message> messages = status_.LineDown(name_, error);
  for (size_t i = 0; i < items_.size(); ++i) Publish(items_[i], messages[i], false, 0, error.text);
}

bool LineWorker::PollOnce() {
  if (poller_.Open()) return false;
  const PollRecord poll = poller_.Poll();
  poller_.Close();
  return !poll.failed();
}

}  // namespace tarvo::tools
