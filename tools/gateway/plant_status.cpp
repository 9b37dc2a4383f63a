#include "tools/gateway/plant_status.h"

#include <fmt/format.h>

#include <cmath>
#include <nlohmann/json.hpp>

#include "tools/common/json_text.h"
#include "tools/common/time_text.h"

namespace tarvo::tools {
namespace {

using Json = nlohmann::ordered_json;

Json TimeJson(const std::optional<PlantStatus::Clock::time_point>& when) {
  return when ? Json(IsoTime(*when)) : Json(nullptr);
}

// Seconds, to the millisecond.
double Seconds(PlantStatus::Clock::duration span) {
  const double seconds = std::chrono::duration<double>(span).count();
  return std::round(std::max(seconds, 0.0) * 1000) / 1000;
}

Json ErrorJson(const ExplainedError& error) {
  const std::optional<int> code = CodeOf(error);
  return Json{
      {"code", code ? Json(*code) : Json(nullptr)}, {"error", error.text}, {"gloss", error.gloss}};
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

// A family of metrics: its heading, then one line per sample.
class Exposition {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += fmt::format("# HELP {} {}\n# TYPE {} {}\n", name, help, name, type);
    name_ = name;
  }
  void Sample(const std::vector<std::pair<const char*, std::string>>& labels, double value) {
    std::string list;
    for (const auto& [key, text] : labels) {
      if (!list.empty()) list += ',';
      list += fmt::format("{}=\"{}\"", key, Escaped(text));
    }
    text_ += fmt::format("{}{{{}}} {}\n", name_, list, value);
  }
  void Sample(double value) { text_ += fmt::format("{} {}\n", name_, value); }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  const char* name_ = "";
};

}  // namespace

std::optional<int> CodeOf(const ExplainedError& error) {
  if (error.codes.empty()) return std::nullopt;
  return error.codes.front();
}

void PlantStatus::AddLine(const std::string& line) { lines_[line] = false; }

size_t PlantStatus::AddItem(ItemIdentity identity) {
  ItemState state;
  state.identity = std::move(identity);
  counters_[{state.identity.line, state.identity.family, state.identity.module}];
  items_.push_back(std::move(state));
  return items_.size() - 1;
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
  return MessageOf(s);
}

void PlantStatus::CountCall(size_t item, int exchanges, const ItemReading& reading) {
  const std::lock_guard lock(mutex_);
  const ItemIdentity& id = items_[item].identity;
  Counters& c = counters_[{id.line, id.family, id.module}];
  c.exchanges += exchanges;
  if (reading.error.code() == ErrDelayNotElapsed) return;
  if (reading.write) {
    ++c.writes[reading.ok ? "0" : CodeLabel(reading.error)];
    return;
  }
  ++c.reads;
  if (!reading.ok) ++c.failures[CodeLabel(reading.error)];
}

void PlantStatus::LineUp(const std::string& line) {
  const std::lock_guard lock(mutex_);
  lines_[line] = true;
  ++opens_[line];
}

std::vector<Message> PlantStatus::LineDown(const std::string& line, const ExplainedError& error) {
  const std::lock_guard lock(mutex_);
  lines_[line] = false;
  std::vector<Message> messages;
  const Clock::time_point now = Clock::now();
  for (ItemState& s : items_) {
    if (s.identity.line != line) continue;
    s.outcome = error;
    s.lastFailure = error;
    s.failedAt = now;
    s.published = true;
    messages.push_back(MessageOf(s));
  }
  return messages;
}

void PlantStatus::BrokerConnected(std::optional<bool> connected) {
  const std::lock_guard lock(mutex_);
  broker_ = connected;
}

std::vector<Message> PlantStatus::Retained() const {
  const std::lock_guard lock(mutex_);
  std::vector<Message> messages;
  for (const ItemState& s : items_)
    if (s.published) messages.push_back(MessageOf(s));
  return messages;
}

std::string PlantStatus::Metrics(Clock::time_point now) const {
  const std::lock_guard lock(mutex_);
  Exposition out;
  auto itemLabels = [](const ItemIdentity& id) {
    return std::vector<std::pair<const char*, std::string>>{
        {"line", id.line}, {"class", id.family}, {"module", std::to_string(id.module)},
        {"item", id.item}, {"name", id.name},    {"unit", id.unit}};
  };
  out.Family("tarvo_item_value", "gauge", "The item's last value read.");
  for (const ItemState& s : items_)
    if (s.value) out.Sample(itemLabels(s.identity), *s.value);
  out.Family("tarvo_item_age_seconds", "gauge", "Seconds since the item's last value was read.");
  for (const ItemState& s : items_)
    if (s.readAt) out.Sample(itemLabels(s.identity), Seconds(now - *s.readAt));
  out.Family("tarvo_item_ok", "gauge",
             "1 when the item's latest read succeeded, 0 when it failed or was not read yet.");
  for (const ItemState& s : items_)
    out.Sample(itemLabels(s.identity), s.published && s.outcome.ok() ? 1 : 0);

  auto moduleLabels = [](const ModuleKey& key) {
    const auto& [line, family, module] = key;
    return std::vector<std::pair<const char*, std::string>>{
        {"line", line}, {"class", family}, {"module", std::to_string(module)}};
  };
  out.Family("tarvo_exchanges_total", "counter", "Commands sent to the module.");
  for (const auto& [key, c] : counters_) out.Sample(moduleLabels(key), c.exchanges);
  out.Family("tarvo_reads_total", "counter", "Reads that ended with a value or a failure.");
  for (const auto& [key, c] : counters_) out.Sample(moduleLabels(key), c.reads);
  out.Family("tarvo_read_failures_total", "counter",
             "Reads that failed, by the driver's error code.");
  // One sample per module and code.
  auto byCode = [&](std::map<std::string, long> Counters::*counts) {
    for (const auto& [key, c] : counters_) {
      for (const auto& [code, n] : c.*counts) {
        auto labels = moduleLabels(key);
        labels.emplace_back("code", code);
        out.Sample(labels, n);
      }
    }
  };
  byCode(&Counters::failures);
  out.Family("tarvo_writes_total", "counter", "Writes, by the driver's error code (0: written).");
  byCode(&Counters::writes);
  out.Family("tarvo_line_up", "gauge", "1 while the line is open, 0 while it is being reopened.");
  for (const auto& [line, up] : lines_) out.Sample({{"line", line}}, up ? 1 : 0);
  out.Family("tarvo_line_opens_total", "counter", "Times the line was opened.");
  for (const auto& [line, up] : lines_) {
    const auto opens = opens_.find(line);
    out.Sample({{"line", line}}, opens == opens_.end() ? 0 : opens->second);
  }
  if (broker_) {
    out.Family("tarvo_mqtt_connected", "gauge", "1 while the broker is connected.");
    out.Sample(*broker_ ? 1 : 0);
  }
  return out.text();
}

std::pair<bool, std::string> PlantStatus::Health() const {
  const std::lock_guard lock(mutex_);
  Json lines = Json::object();
  bool anyUp = false;
  bool allUp = true;
  for (const auto& [line, up] : lines_) {
    lines[line] = up ? "up" : "down";
    anyUp = anyUp || up;
    allUp = allUp && up;
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

bool PlantStatus::Snapshot(const std::string& line, size_t first, size_t count,
                           std::vector<ItemSnapshot>* items) const {
  const std::lock_guard lock(mutex_);
  items->clear();
  for (size_t i = first; i < first + count && i < items_.size(); ++i) {
    const ItemState& s = items_[i];
    items->push_back({s.value, s.readAt, s.published, CodeOf(s.outcome)});
  }
  const auto up = lines_.find(line);
  return up != lines_.end() && up->second;
}

}  // namespace tarvo::tools
