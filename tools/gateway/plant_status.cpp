#include "tools/gateway/plant_status.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>
#include <nlohmann/json.hpp>

#include "tools/common/json_text.h"
#include "tools/common/time_text.h"
#include "tools/gateway/process_metrics.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::tools {
namespace {

using Json = nlohmann::ordered_json;

Json TimeJson(const std::optional<PlantStatus::Clock::time_point>& when) {
  return when ? Json(IsoTime(*when)) : Json(nullptr);
}

Json ErrorJson(const ExplainedError& error) {
  const std::optional<int> code = CodeOf(error);
  return Json{
      {"code", code ? Json(*code) : Json(nullptr)}, {"error", error.text}, {"gloss", error.gloss}};
}

const char* BrokerText(const std::optional<bool>& broker) {
  return !broker ? "none" : *broker ? "connected" : "disconnected";
}

std::string CodeLabel(const ExplainedError& error) {
  const std::optional<int> code = CodeOf(error);
  return code ? std::to_string(*code) : "unknown";
}

// A label value in the exposition format: \, " and new lines escaped.
std::string Escaped(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return escaped;
}

using Labels = std::vector<std::pair<const char*, std::string>>;

std::string LabelText(const Labels& labels) {
  std::string text;
  for (const auto& [key, value] : labels) {
    if (!text.empty()) text += ',';
    text += fmt::format("{}=\"{}\"", key, Escaped(value));
  }
  return text;
}

// The codes a call fails with on a running line, counted from 0 for every
// module; any other code's series appears with its first failure.
constexpr const char* kRunningFailures[] = {"16", "17", "22", "24"};

// The metric families of each quantity; a value of a family with a unit
// is written in it (a relative humidity in percent as a ratio: / 100).
struct QuantityFamily {
  Quantity quantity;
  const char* name;
  const char* help;
  double divisor;
};
constexpr QuantityFamily kQuantityFamilies[] = {
    {Quantity::kTemperature, "tarvo_temperature_celsius", "The item's last temperature read.", 1},
    {Quantity::kHumidity, "tarvo_relative_humidity_ratio",
     "The item's last relative humidity read, 0 to 1.", 100},
    {Quantity::kVoltage, "tarvo_voltage_volts", "The item's last voltage read.", 1},
    {Quantity::kState, "tarvo_digital_state",
     "The last state read of the digital input or output: 0 or 1.", 1},
    {Quantity::kPlain, "tarvo_item_value",
     "The item's last value read, of a register with no fixed unit.", 1},
};

// Families of metrics, written into a buffer handed to the sink whenever
// it holds a piece.
class Exposition {
 public:
  static constexpr size_t kPiece = 64 * 1024;

  explicit Exposition(const PlantStatus::Sink& sink) : sink_(sink) {}
  void Family(const char* name, const char* type, const char* help) {
    fmt::format_to(std::back_inserter(text_), "# HELP {} {}\n# TYPE {} {}\n", name, help, name,
                   type);
    name_ = name;
  }
  // A sample of the family (or, with a suffix, of its _sum or _count).
  template <typename Value>
  void Sample(std::string_view labels, Value value, const char* suffix = "") {
    fmt::format_to(std::back_inserter(text_), "{}{}{{{}}} {}\n", name_, suffix, labels, value);
  }
  template <typename Value>
  void Sample(Value value) {
    fmt::format_to(std::back_inserter(text_), "{} {}\n", name_, value);
  }
  // Hands the piece over when it is full (or always, with force). False
  // once the reader is gone.
  bool Flush(bool force = false) {
    if (open_ && (force || text_.size() >= kPiece)) {
      open_ = sink_(std::string_view(text_.data(), text_.size()));
      text_.clear();
    }
    return open_;
  }

 private:
  const PlantStatus::Sink& sink_;
  fmt::memory_buffer text_;
  const char* name_ = "";
  bool open_ = true;
};

}  // namespace

std::optional<int> CodeOf(const ExplainedError& error) {
  if (error.codes.empty()) return std::nullopt;
  return error.codes.front();
}

void PlantStatus::AddLine(const std::string& line, const std::string& port) {
  const std::lock_guard lock(mutex_);
  lines_[line].port = port;
}

size_t PlantStatus::AddItem(ItemIdentity identity) {
  ItemState state;
  std::string registerName = identity.item.substr(0, 2);
  for (char& c : registerName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  identity.quantity = QuantityOf(identity.family, registerName);
  state.labels =
      LabelText({{"line", identity.line}, {"class", identity.family}, {"item", identity.item}});
  state.infoLabels = state.labels + "," +
                     LabelText({{"module", std::to_string(identity.module)},
                                {"name", identity.name},
                                {"unit", identity.unit},
                                {"topic", identity.topic}});
  state.identity = std::move(identity);
  const std::lock_guard lock(mutex_);
  Counters& counters =
      counters_[{state.identity.line, state.identity.family, state.identity.module}];
  counters.labels = LabelText({{"line", state.identity.line},
                               {"class", state.identity.family},
                               {"module", std::to_string(state.identity.module)}});
  for (const char* code : kRunningFailures) {
    counters.readFailures[code];
    counters.writeFailures[code];
  }
  if (freeSlots_.empty()) {
    items_.push_back(std::move(state));
    return items_.size() - 1;
  }
  const size_t slot = freeSlots_.back();
  freeSlots_.pop_back();
  items_[slot] = std::move(state);
  return slot;
}

std::vector<std::string> PlantStatus::RemoveLine(const std::string& line) {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> topics;
  for (size_t i = 0; i < items_.size(); ++i) {
    ItemState& s = items_[i];
    if (s.removed || s.identity.line != line) continue;
    if (s.published) topics.push_back(s.identity.topic);
    s = ItemState{};
    s.removed = true;
    freeSlots_.push_back(i);
  }
  lines_.erase(line);
  std::erase_if(counters_, [&](const auto& entry) { return std::get<0>(entry.first) == line; });
  return topics;
}

ItemIdentity PlantStatus::identity(size_t item) const {
  const std::lock_guard lock(mutex_);
  return items_[item].identity;
}

// Nothing in it changes while the item reads the same: no age, which
// "time" gives.
Message PlantStatus::MessageOf(const ItemState& s) const {
  const ItemIdentity& id = s.identity;
  Json payload{{"item", id.item}, {"name", id.name}, {"class", id.family}};
  payload["value"] =
      s.value ? (s.discrete ? Json(static_cast<int>(*s.value)) : Json(*s.value)) : Json(nullptr);
  payload["unit"] = id.unit;
  payload["time"] = TimeJson(s.readAt);
  payload["ok"] = s.outcome.ok();
  payload.update(ErrorJson(s.outcome));
  Json failure = nullptr;
  if (s.lastFailure) {
    failure = ErrorJson(*s.lastFailure);
    failure["time"] = TimeJson(s.failedAt);
  }
  payload["last_failure"] = failure;
  return {id.topic, JsonText(payload), true};
}

Message PlantStatus::Record(size_t item, const ItemReading& reading) {
  const std::lock_guard lock(mutex_);
  ItemState& s = items_[item];
  s.discrete = reading.discrete;
  s.outcome = reading.error;
  if (reading.ok) {
    // The shortest text that reads back as the float, as a double.
    s.value = reading.discrete ? reading.discreteValue : std::stod(FormatValue(reading));
    s.readAt = reading.readAt;
  } else {
    s.lastFailure = reading.error;
    s.failedAt = reading.readAt;
  }
  s.published = true;
  if (events_.listening()) events_.Publish("item", JsonText(ItemJson(s)));
  return MessageOf(s);
}

void PlantStatus::CountCall(size_t item, int exchanges, const ItemReading& reading) {
  const std::lock_guard lock(mutex_);
  const ItemIdentity& id = items_[item].identity;
  Counters& c = counters_[{id.line, id.family, id.module}];
  c.exchanges += exchanges;
  if (reading.error.code() == ErrDelayNotElapsed) return;
  if (reading.write) {
    ++c.writes;
    if (!reading.ok) ++c.writeFailures[CodeLabel(reading.error)];
    return;
  }
  ++c.reads;
  if (!reading.ok) ++c.readFailures[CodeLabel(reading.error)];
}

void PlantStatus::LineUp(const std::string& line) {
  const std::lock_guard lock(mutex_);
  LineState& state = lines_[line];
  state.tried = true;
  state.up = true;
  ++state.opens;
  state.downSince.reset();
  state.openFailures = 0;
  state.error.clear();
  LineEvent(line, state);
}

void PlantStatus::OpenFailed(const std::string& line) {
  const std::lock_guard lock(mutex_);
  LineState& state = lines_[line];
  ++state.openFailures;
  LineEvent(line, state);
}

void PlantStatus::LineEvent(const std::string& line, const LineState& state) const {
  if (events_.listening()) events_.Publish("line", JsonText(LineJson(line, state)));
}

void PlantStatus::PollEnded(const std::string& line, Clock::duration duration) {
  const std::lock_guard lock(mutex_);
  LineState& state = lines_[line];
  ++state.polls;
  state.pollSeconds += std::chrono::duration<double>(duration).count();
}

std::vector<Message> PlantStatus::LineDown(const std::string& line, const ExplainedError& error) {
  const std::lock_guard lock(mutex_);
  const Clock::time_point now = Clock::now();
  LineState& state = lines_[line];
  state.tried = true;
  state.up = false;
  if (!state.downSince) state.downSince = now;
  state.error = error.text;
  LineEvent(line, state);
  std::vector<Message> messages;
  for (ItemState& s : items_) {
    if (s.removed || s.identity.line != line) continue;
    s.outcome = error;
    s.lastFailure = error;
    s.failedAt = now;
    s.published = true;
    messages.push_back(MessageOf(s));
    if (events_.listening()) events_.Publish("item", JsonText(ItemJson(s)));
  }
  return messages;
}

void PlantStatus::BrokerConnected(std::optional<bool> connected) {
  const std::lock_guard lock(mutex_);
  broker_ = connected;
  if (events_.listening())
    events_.Publish("broker", JsonText(Json{{"broker", BrokerText(broker_)}}));
}

size_t PlantStatus::items() const {
  const std::lock_guard lock(mutex_);
  return items_.size();
}

std::vector<Message> PlantStatus::Retained() const {
  const std::lock_guard lock(mutex_);
  std::vector<Message> messages;
  for (const ItemState& s : items_)
    if (!s.removed && s.published) messages.push_back(MessageOf(s));
  return messages;
}

void PlantStatus::Metrics(const Sink& sink) const {
  Exposition out(sink);
  // The items' families a few thousand items at a time, so that the lines
  // need not wait for the whole scrape to record a reading.
  constexpr size_t kItemsAtATime = 4096;
  auto eachItem = [&](auto write) {
    for (size_t from = 0;; from += kItemsAtATime) {
      const std::lock_guard lock(mutex_);
      if (from >= items_.size()) return true;
      const size_t to = std::min(items_.size(), from + kItemsAtATime);
      for (size_t i = from; i < to; ++i)
        if (!items_[i].removed) write(items_[i]);
      if (!out.Flush()) return false;
    }
  };
  for (const QuantityFamily& family : kQuantityFamilies) {
    out.Family(family.name, "gauge", family.help);
    // Only while the latest read succeeded: a failed item shows no value.
    if (!eachItem([&](const ItemState& s) {
          if (s.identity.quantity == family.quantity && s.value && s.published && s.outcome.ok())
            out.Sample(s.labels, *s.value / family.divisor);
        }))
      return;
  }
  out.Family("tarvo_item_last_read_timestamp_seconds", "gauge",
             "When the item's last value was read, in seconds since 1970.");
  if (!eachItem([&](const ItemState& s) {
        if (s.readAt)
          out.Sample(s.labels, std::chrono::duration_cast<std::chrono::milliseconds>(
                                   s.readAt->time_since_epoch())
                                       .count() /
                                   1000.0);
      }))
    return;
  out.Family("tarvo_item_info", "gauge", "The item's module, name, unit and topic; always 1.");
  if (!eachItem([&](const ItemState& s) { out.Sample(s.infoLabels, 1); })) return;

  {
    const std::lock_guard lock(mutex_);
    auto eachModule = [&](auto count) {
      for (const auto& [key, c] : counters_) out.Sample(c.labels, c.*count);
    };
    // One sample per module and code.
    auto byCode = [&](std::map<std::string, long> Counters::*counts) {
      for (const auto& [key, c] : counters_)
        for (const auto& [code, n] : c.*counts) out.Sample(c.labels + ",code=\"" + code + "\"", n);
    };
    out.Family("tarvo_exchanges_total", "counter", "Commands sent to the module.");
    eachModule(&Counters::exchanges);
    out.Family("tarvo_reads_total", "counter", "Reads that ended with a value or a failure.");
    eachModule(&Counters::reads);
    out.Family("tarvo_read_failures_total", "counter",
               "Reads that failed, by the driver's error code.");
    byCode(&Counters::readFailures);
    out.Family("tarvo_writes_total", "counter", "Writes made, whether they succeeded or failed.");
    eachModule(&Counters::writes);
    out.Family("tarvo_write_failures_total", "counter",
               "Writes that failed, by the driver's error code.");
    byCode(&Counters::writeFailures);

    auto eachLine = [&](auto value) {
      for (const auto& [line, state] : lines_)
        out.Sample(LabelText({{"line", line}}), value(state));
    };
    out.Family("tarvo_line_up", "gauge", "1 while the line is open, 0 while it is being reopened.");
    eachLine([](const LineState& l) { return l.up ? 1 : 0; });
    out.Family("tarvo_line_opens_total", "counter", "Times the line was opened.");
    eachLine([](const LineState& l) { return l.opens; });
    out.Family("tarvo_line_poll_duration_seconds", "summary",
               "How long the line's polls took, each from its first call to its last.");
    for (const auto& [line, state] : lines_) {
      const std::string labels = LabelText({{"line", line}});
      out.Sample(labels, state.pollSeconds, "_sum");
      out.Sample(labels, state.polls, "_count");
    }
    if (broker_) {
      out.Family("tarvo_mqtt_connected", "gauge", "1 while the broker is connected.");
      out.Sample(*broker_ ? 1 : 0);
    }
  }
  out.Family("tarvo_build_info", "gauge", "The gateway's version; always 1.");
  out.Sample(LabelText({{"version", TARVO_VERSION}}), 1);
  if (!out.Flush(true)) return;
  sink(ProcessMetrics());
}

std::string PlantStatus::Metrics() const {
  std::string text;
  Metrics([&](std::string_view piece) {
    text += piece;
    return true;
  });
  return text;
}

std::pair<bool, std::string> PlantStatus::Health() const {
  const std::lock_guard lock(mutex_);
  Json lines = Json::object();
  bool anyUp = false;
  bool allUp = true;
  for (const auto& [line, state] : lines_) {
    lines[line] = state.up ? "up" : "down";
    anyUp = anyUp || state.up;
    allUp = allUp && state.up;
  }
  const bool brokerOk = !broker_ || *broker_;
  const bool healthy = brokerOk && anyUp;
  const Json health{{"status", !healthy ? "failing"
                               : allUp  ? "ok"
                                        : "degraded"},
                    {"mqtt", !broker_   ? "not configured"
                             : *broker_ ? "connected"
                                        : "disconnected"},
                    {"lines", lines}};
  return {healthy, JsonText(health) + "\n"};
}

Json PlantStatus::ItemJson(const ItemState& s) {
  const ItemIdentity& id = s.identity;
  Json item{{"id", id.path},
            {"name", id.name},
            {"address", id.item},
            {"unit", id.unit},
            {"kind", !id.discrete  ? "analog"
                     : id.writable ? "do"
                                   : "di"},
            {"writable", id.writable},
            {"state", !s.published     ? "waiting"
                      : s.outcome.ok() ? "fresh"
                                       : "failed"}};
  const Json value =
      s.value ? (s.discrete ? Json(static_cast<int>(*s.value)) : Json(*s.value)) : Json(nullptr);
  item["value"] = value;
  item["text"] = value.is_null() ? Json(nullptr) : Json(JsonText(value));
  item["time"] = TimeJson(s.readAt);
  if (s.published && !s.outcome.ok()) {
    item.update(ErrorJson(s.outcome));
  } else {
    const std::optional<int> code = s.published ? CodeOf(s.outcome) : std::nullopt;
    item["code"] = code ? Json(*code) : Json(nullptr);
    item["error"] = nullptr;
    item["gloss"] = nullptr;
  }
  return item;
}

Json PlantStatus::LineJson(const std::string& line, const LineState& state) {
  return Json{{"name", line},
              {"port", state.port},
              {"state", !state.tried ? "starting"
                        : state.up   ? "open"
                                     : "down"},
              {"down_since", TimeJson(state.downSince)},
              {"reopen_attempts", state.openFailures},
              {"error", state.up || state.error.empty() ? Json(nullptr) : Json(state.error)}};
}

Json PlantStatus::Plant() const {
  Json lines = Json::array();
  std::map<std::string, Json> lineJson;  // the lines' objects, modules apart
  std::map<ModuleKey, Json> modules;     // with their items
  std::vector<std::string> lineOrder;    // of their first items
  std::vector<ModuleKey> moduleOrder;    // likewise
  Json gateway;
  {
    const std::lock_guard lock(mutex_);
    gateway = {{"broker", BrokerText(broker_)},
               {"started", IsoTime(started_)},
               {"version", TARVO_VERSION}};
    for (const auto& [line, state] : lines_) lineJson[line] = LineJson(line, state);
    for (const auto& [key, c] : counters_) {
      long failures = 0;
      for (const auto& [code, n] : c.readFailures) failures += n;
      for (const auto& [code, n] : c.writeFailures) failures += n;
      modules[key] = Json{{"class", std::get<1>(key)},
                          {"module", std::get<2>(key)},
                          {"failures", failures},
                          {"items", Json::array()}};
    }
  }
  // A few thousand items at a time, as the metrics, so that the lines need
  // not wait for the whole plant to record a reading.
  constexpr size_t kItemsAtATime = 4096;
  for (size_t from = 0;; from += kItemsAtATime) {
    const std::lock_guard lock(mutex_);
    if (from >= items_.size()) break;
    for (size_t i = from; i < std::min(items_.size(), from + kItemsAtATime); ++i) {
      const ItemState& s = items_[i];
      const ModuleKey key{s.identity.line, s.identity.family, s.identity.module};
      const auto module = modules.find(key);
      // A line added by a reload since the lines were taken waits for the next call.
      if (s.removed || module == modules.end() || !lineJson.contains(s.identity.line)) continue;
      if (module->second["items"].empty()) {
        moduleOrder.push_back(key);
        if (std::find(lineOrder.begin(), lineOrder.end(), s.identity.line) == lineOrder.end())
          lineOrder.push_back(s.identity.line);
      }
      module->second["items"].push_back(ItemJson(s));
    }
  }
  for (const auto& [line, json] : lineJson)
    if (std::find(lineOrder.begin(), lineOrder.end(), line) == lineOrder.end())
      lineOrder.push_back(line);
  for (const std::string& line : lineOrder) {
    Json json = std::move(lineJson[line]);
    json["modules"] = Json::array();
    for (const ModuleKey& key : moduleOrder)
      if (std::get<0>(key) == line) json["modules"].push_back(std::move(modules[key]));
    lines.push_back(std::move(json));
  }
  return Json{{"gateway", std::move(gateway)}, {"lines", std::move(lines)}};
}

bool PlantStatus::Snapshot(const std::string& line, size_t first, size_t count,
                           std::vector<ItemSnapshot>* items) const {
  const std::lock_guard lock(mutex_);
  items->clear();
  for (size_t i = first; i < first + count && i < items_.size(); ++i) {
    const ItemState& s = items_[i];
    items->push_back({s.value, s.readAt, s.published, CodeOf(s.outcome)});
  }
  const auto up = lines_.find(line);
  return up != lines_.end() && up->second.up;
}

}  // namespace tarvo::tools
