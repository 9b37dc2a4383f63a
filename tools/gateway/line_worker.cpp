#include "tools/gateway/line_worker.h"

#include <fmt/format.h>

#include <algorithm>
#include <cstring>

#include "tools/gateway/gateway_log.h"
#include "tools/gateway/write_payload.h"
#include "tools/plant/driver_classes.h"

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

void CountExchanges(const DriverLibrary& library) { library.SetTraceHandler(&CountSent, nullptr); }

LineWorker::LineWorker(const DriverLibrary& library, const GatewayLine& line, int32_t mappedPort,
                       PlantStatus& status, const std::string& prefix, Publisher publish,
                       bool verbose)
    : name_(line.name),
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

bool LineWorker::Check(const std::string& libraryPath) {
  return poller_.CreateObjects(libraryPath) && poller_.ParseItems(true);
}

void LineWorker::Enter() {
  status_.AddLine(name_);
  for (size_t i = 0; i < poller_.items(); ++i) {
    const ItemSpec& spec = poller_.spec(i);
    ItemIdentity id;
    id.line = name_;
    id.family = std::string(poller_.driverClass(i).family);
    id.module = poller_.module(i);
    id.item = spec.address;
    id.name = spec.name;
    id.unit = spec.unit;
    id.topic =
        fmt::format("{}/{}/{}", prefix_, name_, spec.topic.empty() ? spec.address : spec.topic);
    Item item{status_.AddItem(id), id.topic + "/set", "", ""};
    if (poller_.Writable(i)) item.resultTopic = id.topic + "/result";
    items_.push_back(item);
  }
}

std::vector<std::string> LineWorker::SetTopics() const {
  std::vector<std::string> topics;
  for (const Item& item : items_) topics.push_back(item.setTopic);
  return topics;
}

bool LineWorker::HandleSet(const std::string& topic, std::string_view payload) {
  const auto item = std::find_if(items_.begin(), items_.end(),
                                 [&](const Item& i) { return i.setTopic == topic; });
  if (topic.empty() || item == items_.end()) return false;
  const size_t index = static_cast<size_t>(item - items_.begin());
  if (item->resultTopic.empty()) {
    if (!item->refusalLogged) {
      const std::string& address = status_.identity(item->status).item;
      Say(
          fmt::format("{} not set: register {} cannot be written (read only); a message on {} "
                      "is not answered",
                      address, address.substr(0, 2), topic));
      item->refusalLogged = true;
    }
    return true;
  }
  const WriteRequest request = ParseWritePayload(payload);
  if (!request.value) {
    AnswerWrite(index, std::nullopt, request.refusal, false);
    return true;
  }
  if (const std::optional<uint32_t> superseded = poller_.Submit(index, *request.value))
    AnswerWrite(index, *superseded, SupersededWrite(), false);
  return true;
}

void LineWorker::AnswerWrite(size_t item, std::optional<uint32_t> value,
                             const ExplainedError& outcome, bool ok) {
  const std::string& address = status_.identity(items_[item].status).item;
  publish_({items_[item].resultTopic,
            WriteResultMessage(address, value, outcome, ok, std::chrono::system_clock::now()),
            false});
  LogLimited(fmt::format("line {}: writes", name_),
             fmt::format("line {}: {} {} {}", name_, address,
                         value ? fmt::format("set to {}:", *value) : std::string("not set:"),
                         ok ? std::string("written") : outcome.Display()));
}

void LineWorker::Written(size_t item, uint32_t value, const ExplainedError& outcome, bool ok) {
  AnswerWrite(item, value, outcome, ok);
}

void LineWorker::PlantWritten(const ItemReading& reading) {
  const auto item = std::find_if(items_.begin(), items_.end(), [&](const Item& i) {
    return status_.identity(i.status).item == reading.item;
  });
  const std::string topic = item != items_.end() && !item->resultTopic.empty()
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

void LineWorker::PollEnded(const PollRecord& poll) {
  status_.PollEnded(name_, poll.time - poll.started);
}

void LineWorker::LineUp() {
  for (const std::string& warning :
       poller_.line().TimeoutWarnings(poller_.config(), poller_.timeouts()))
    Say(PlantFileWarning(warning));
  status_.LineUp(name_);
}

void LineWorker::LineDown(const ExplainedError& error) {
  for (const Message& message : status_.LineDown(name_, error)) publish_(message);
}

bool LineWorker::PollOnce() {
  if (poller_.Open()) return false;
  const PollRecord poll = poller_.Poll();
  poller_.Close();
  return !poll.failed();
}

}  // namespace tarvo::tools
