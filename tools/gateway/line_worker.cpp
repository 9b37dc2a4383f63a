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

// The line's members and its settings: the plant's groups copied once,
// into the members.
// Takes the line's options.
std::pair<std::vector<LineMember>, LineConfig> SplitLine(GatewayLine& line) {
  LineConfig settings = std::move(line.options);
  std::string unknown;
  // The plant reader has checked the class names.
  std::vector<LineMember> members =
      MergeClassGroups(std::move(settings.groups), &unknown).value_or(std::vector<LineMember>{});
  settings.groups.clear();
  return {std::move(members), std::move(settings)};
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

LineWorker::LineWorker(const DriverLibrary& library, GatewayLine line, int32_t mappedPort,
                       PlantStatus& status, const std::string& prefix, Publisher publish,
                       bool verbose)
    : LineWorker(library, line, SplitLine(line), mappedPort, status, prefix, std::move(publish),
                 verbose) {}

LineWorker::LineWorker(const DriverLibrary& library, const GatewayLine& line,
                       std::pair<std::vector<LineMember>, LineConfig> parts, int32_t mappedPort,
                       PlantStatus& status, const std::string& prefix, Publisher publish,
                       bool verbose)
    : name_(line.name),
      policies_{line.publish},
      status_(status),
      prefix_(prefix),
      publish_(std::move(publish)),
      verbose_(verbose),
      poller_(library, std::move(parts.first), std::move(parts.second), "tarvo-gateway",
              mappedPort) {
  for (const auto& [topic, policy] : line.items) {
    itemPolicies_[topic] = static_cast<uint32_t>(policies_.size());
    policies_.push_back(policy);
  }
  poller_.SetObserver(this);
  poller_.KeepReadings(false);  // each is taken as it comes
}

void LineWorker::Say(const std::string& message) {
  Log(fmt::format("line {}: {}", name_, message));
}

bool LineWorker::Check(const std::string& libraryPath, bool makePlantWrites) {
  return poller_.CreateObjects(libraryPath) && poller_.ParseItems(true, makePlantWrites);
}

const std::string& LineWorker::Leaf(size_t item) const {
  const ItemSpec& spec = poller_.spec(item);
  return spec.topic.empty() ? spec.address : spec.topic;
}

uint32_t LineWorker::ErrorIndex(const std::string& text) {
  const auto known = std::find(errors_.begin(), errors_.end(), text);
  if (known != errors_.end()) return static_cast<uint32_t>(known - errors_.begin());
  errors_.push_back(text);
  return static_cast<uint32_t>(errors_.size() - 1);
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
    id.path = fmt::format("{}/{}", name_, Leaf(i));
    id.topic = fmt::format("{}/{}", prefix_, id.path);
    id.writable = poller_.Writable(i);
    id.discrete = poller_.Discrete(i);
    Item item;
    item.writable = id.writable;
    item.discrete = id.discrete;
    item.status = status_.AddItem(std::move(id));
    const auto policy = itemPolicies_.find(Leaf(i));
    item.policy = policy == itemPolicies_.end() ? 0 : policy->second;
    items_.push_back(item);
  }
  auto sortedBy = [&](auto key) {
    std::vector<uint32_t> order(items_.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return key(a) < key(b); });
    return order;
  };
  byLeaf_ = sortedBy([&](size_t i) -> const std::string& { return Leaf(i); });
  byAddress_ = sortedBy([&](size_t i) -> const std::string& { return poller_.spec(i).address; });
}

std::vector<std::string> LineWorker::SetTopics() const {
  std::vector<std::string> topics;
  topics.reserve(items_.size());
  for (size_t i = 0; i < items_.size(); ++i)
    topics.push_back(fmt::format("{}/{}/{}/set", prefix_, name_, Leaf(i)));
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
  // PREFIX/LINE/LEAF/set
  const std::string head = fmt::format("{}/{}/", prefix_, name_);
  constexpr std::string_view kSet = "/set";
  if (topic.size() < head.size() + kSet.size() || !topic.starts_with(head) ||
      !topic.ends_with(kSet))
    return false;
  const std::string_view leaf =
      std::string_view(topic).substr(head.size(), topic.size() - head.size() - kSet.size());
  const auto found = std::lower_bound(byLeaf_.begin(), byLeaf_.end(), leaf,
                                      [&](uint32_t i, std::string_view l) { return Leaf(i) < l; });
  if (found == byLeaf_.end() || Leaf(*found) != leaf) return false;
  const size_t index = *found;
  const WriteRequest request = ParseWritePayload(payload);
  WriteReply answer = reply;
  answer.id = request.id;
  if (!items_[index].writable) {
    const std::string why = fmt::format("register {} is read only: only an output can be set",
                                        poller_.spec(index).address.substr(0, 2));
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
  std::list<WriteReply>& replies = pendingReplies_[item];
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
  const auto replies = pendingReplies_.find(item);
  if (replies == pendingReplies_.end()) return {};
  WriteReply reply = std::move(replies->second.front());
  replies->second.pop_front();
  if (replies->second.empty()) pendingReplies_.erase(replies);
  return reply;
}

void LineWorker::AnswerWrite(size_t item, std::optional<uint32_t> value,
                             const ExplainedError& outcome, bool ok, const WriteReply& reply) {
  const std::string& address = poller_.spec(item).address;
  const std::string path = fmt::format("{}/{}", name_, Leaf(item));
  const std::string answer =
      WriteResultMessage(address, value, outcome, ok, std::chrono::system_clock::now(), reply.id);
  publish_({fmt::format("{}/{}/result", prefix_, path), answer, false});
  if (!reply.responseTopic.empty())
    publish_({reply.responseTopic, answer, false, reply.correlation});
  if (reply.answered) reply.answered(value, outcome, ok);
  EventHub& events = status_.events();
  if (events.listening()) events.Publish("write", WriteOutcomeText(path, reply.id, outcome, ok));
  LogLimited(fmt::format("line {}: writes", name_),
             fmt::format("line {}: {} {} {}", name_, address,
                         value ? fmt::format("set to {}:", *value) : std::string("not set:"),
                         ok ? std::string("written") : outcome.Display()));
}

void LineWorker::Written(size_t item, uint32_t value, const ExplainedError& outcome, bool ok) {
  AnswerWrite(item, value, outcome, ok, TakeReply(item));
}

void LineWorker::PlantWritten(const ItemReading& reading) {
  const auto found = std::lower_bound(
      byAddress_.begin(), byAddress_.end(), reading.item,
      [&](uint32_t i, const std::string& address) { return poller_.spec(i).address < address; });
  const bool known = found != byAddress_.end() && poller_.spec(*found).address == reading.item;
  const std::string topic =
      fmt::format("{}/{}/{}/result", prefix_, name_, known ? Leaf(*found) : reading.item);
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
  status_.Record(item.status, reading);
  const double value = reading.ok && !reading.discrete ? ReadingValue(reading)
                                                       : static_cast<double>(reading.discreteValue);
  if (Due(item, reading.ok, value, reading.error.text)) publish_(status_.MessageFor(item.status));
  const bool failsAnew = !reading.ok && errors_[item.lastError] != reading.error.text;
  const bool readsAgain = reading.ok && item.lastError != 0;
  if (!verbose_ && !failsAnew && !readsAgain) return;
  const std::string& address = poller_.spec(index).address;
  if (verbose_)
    Say(fmt::format("{} = {}", address,
                    reading.ok ? FormatValue(reading) : reading.error.Display()));
  if (failsAnew) {
    Say(fmt::format("{} fails: {}", address, reading.error.Display()));
    item.lastError = ErrorIndex(reading.error.text);
  } else if (readsAgain) {
    Say(fmt::format("{} reads again", address));
    item.lastError = 0;
  }
}

bool LineWorker::Due(Item& item, bool ok, double value, const std::string& error) {
  const auto now = std::chrono::steady_clock::now();
  std::optional<Published> last;
  if (item.published)
    last = Published{item.publishedOk, item.publishedValue, errors_[item.publishedError],
                     item.publishedAt};
  if (!ShouldPublish(policies_[item.policy], last, ok, value, item.discrete, error, now))
    return false;
  item.published = true;
  item.publishedOk = ok;
  item.publishedError = ok ? 0 : ErrorIndex(error);
  if (ok) item.publishedValue = value;
  item.publishedAt = now;
  return true;
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
  // The status first: whoever hears "offline" and asks /health or the
  // API then finds the line down too.
  status_.LineDown(name_, error);
  up_ = Up::kOffline;
  publish_(*LineStatus());
  for (Item& item : items_)
    if (Due(item, false, 0, error.text)) publish_(status_.MessageFor(item.status));
}

bool LineWorker::PollOnce() {
  if (poller_.Open()) return false;
  const PollRecord poll = poller_.Poll();
  poller_.Close();
  return !poll.failed;
}

}  // namespace tarvo::tools
