#include "tools/gateway/plant_status.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
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
void AppendEscaped(std::string* out, std::string_view text) {
  for (char c : text) {
    if (c == '\\' || c == '"') out->push_back('\\');
    if (c == '\n')
      out->append("\\n");
    else
      out->push_back(c);
  }
}

void AppendLabel(std::string* out, const char* key, std::string_view value) {
  if (!out->empty()) out->push_back(',');
  out->append(key);
  out->append("=\"");
  AppendEscaped(out, value);
  out->push_back('"');
}

using Labels = std::vector<std::pair<const char*, std::string>>;

std::string LabelText(const Labels& labels) {
  std::string text;
  for (const auto& [key, value] : labels) AppendLabel(&text, key, value);
  return text;
}

// A text as a JSON string, as the JSON library writes it (a byte that is
// not UTF-8 replaced): the library itself for any text but plain ASCII.
void AppendJsonString(std::string* out, std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x80 || c == '"' || c == '\\') {
      out->append(JsonText(Json(std::string(text))));
      return;
    }
  }
  out->push_back('"');
  out->append(text);
  out->push_back('"');
}

// A number as the JSON library writes it ("10.0", "1e-05").
void AppendJsonNumber(std::string* out, double value) {
  if (!std::isfinite(value)) {
    out->append("null");
    return;
  }
  char text[64];
  const char* end = nlohmann::detail::to_chars(text, text + sizeof text, value);
  out->append(text, static_cast<size_t>(end - text));
}

void AppendJsonTime(std::string* out, bool has, PlantStatus::Clock::time_point when) {
  if (!has) {
    out->append("null");
    return;
  }
  out->push_back('"');
  out->append(IsoTime(when));
  out->push_back('"');
}

// The members of a JSON object written one by one as the JSON library
// writes them: compact (depth < 0) or indented by 2 at `depth`.
class ObjectText {
 public:
  ObjectText(std::string* out, int depth) : out_(out), depth_(depth) { out_->push_back('{'); }
  // Starts a member; its value is appended to the text next.
  std::string* Key(std::string_view key) {
    if (!empty_) out_->push_back(',');
    empty_ = false;
    if (depth_ >= 0) {
      out_->push_back('\n');
      out_->append(static_cast<size_t>(2 * (depth_ + 1)), ' ');
    }
    out_->push_back('"');
    out_->append(key);
    out_->append(depth_ >= 0 ? "\": " : "\":");
    return out_;
  }
  // The depth of an object that is a member's value.
  int inner() const { return depth_ < 0 ? depth_ : depth_ + 1; }
  void Close() {
    if (depth_ >= 0 && !empty_) {
      out_->push_back('\n');
      out_->append(static_cast<size_t>(2 * depth_), ' ');
    }
    out_->push_back('}');
  }

 private:
  std::string* out_;
  int depth_;
  bool empty_ = true;
};

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

double ReadingValue(const ItemReading& reading) {
  // FormatValue's text, without a string of its own.
  char text[32];
  const auto written = fmt::format_to_n(text, sizeof text, "{}", reading.analog);
  double value = 0;
  std::from_chars(text, text + written.size, value);
  return value;
}

void PlantStatus::AddLine(const std::string& line, const std::string& port) {
  const std::lock_guard lock(mutex_);
  lines_[line].port = port;
}

uint32_t PlantStatus::Name(std::string_view text) {
  if (const auto known = nameIndex_.find(text); known != nameIndex_.end()) return known->second;
  names_.emplace_back(text);
  const auto index = static_cast<uint32_t>(names_.size() - 1);
  nameIndex_.emplace(names_.back(), index);
  return index;
}

uint32_t PlantStatus::OutcomeOf(const ExplainedError& error, uint32_t likely) {
  auto same = [&](uint32_t i) {
    const ExplainedError& known = errors_[i].error;
    return known.text == error.text && known.codes == error.codes && known.gloss == error.gloss;
  };
  if (likely < errors_.size() && same(likely)) return likely;
  // A handful: the driver's error texts and the lines' problems.
  for (uint32_t i = 0; i < errors_.size(); ++i)
    if (same(i)) return i;
  Outcome outcome{error, {}, {}, {}};
  const std::optional<int> code = CodeOf(error);
  outcome.code = code ? std::to_string(*code) : "null";
  AppendJsonString(&outcome.text, error.text);
  AppendJsonString(&outcome.gloss, error.gloss);
  errors_.push_back(std::move(outcome));
  return static_cast<uint32_t>(errors_.size() - 1);
}

size_t PlantStatus::AddItem(ItemIdentity identity) {
  ItemState state;
  std::string registerName = identity.item.substr(0, 2);
  for (char& c : registerName) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  state.quantity = QuantityOf(identity.family, registerName);
  state.module = identity.module;
  state.writable = identity.writable;
  state.registerDiscrete = identity.discrete;
  // What the line and the address do not give is kept as given.
  Naming naming{std::move(identity.name), std::move(identity.unit), {}, {}};
  if (identity.path != identity.line + "/" + identity.item) naming.path = identity.path;
  const bool headed = identity.topic.ends_with(identity.path);
  if (!headed) naming.topic = identity.topic;
  if (!naming.name.empty() || !naming.unit.empty() || !naming.path.empty() || !naming.topic.empty())
    state.naming = std::make_unique<Naming>(std::move(naming));
  state.address = std::move(identity.item);
  const std::lock_guard lock(mutex_);
  if (errors_.empty()) OutcomeOf(ExplainedError{});  // 0: no outcome yet
  state.line = Name(identity.line);
  state.family = Name(identity.family);
  state.topicHead = Name(
      headed
          ? std::string_view(identity.topic).substr(0, identity.topic.size() - identity.path.size())
          : std::string_view());
  Counters& counters = counters_[{identity.line, identity.family, identity.module}];
  if (counters.labels.empty()) {
    counters.labels = LabelText({{"line", identity.line},
                                 {"class", identity.family},
                                 {"module", std::to_string(identity.module)}});
    for (const char* code : kRunningFailures) {
      counters.readFailures[code];
      counters.writeFailures[code];
    }
  }
  state.counters = &counters;
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
  const auto named = nameIndex_.find(line);
  for (size_t i = 0; named != nameIndex_.end() && i < items_.size(); ++i) {
    ItemState& s = items_[i];
    if (s.removed || s.line != named->second) continue;
    if (s.published) topics.push_back(Topic(s));
    s = ItemState{};
    s.removed = true;
    freeSlots_.push_back(i);
  }
  lines_.erase(line);
  std::erase_if(counters_, [&](const auto& entry) { return std::get<0>(entry.first) == line; });
  return topics;
}

std::string PlantStatus::Path(const ItemState& s) const {
  if (s.naming && !s.naming->path.empty()) return s.naming->path;
  return names_[s.line] + "/" + s.address;
}

std::string PlantStatus::Topic(const ItemState& s) const {
  if (s.naming && !s.naming->topic.empty()) return s.naming->topic;
  return names_[s.topicHead] + Path(s);
}

ItemIdentity PlantStatus::IdentityOf(const ItemState& s) const {
  return {names_[s.line],
          names_[s.family],
          s.module,
          s.address,
          s.naming ? s.naming->name : std::string(),
          s.naming ? s.naming->unit : std::string(),
          Topic(s),
          Path(s),
          s.writable,
          s.registerDiscrete,
          s.quantity};
}

ItemIdentity PlantStatus::identity(size_t item) const {
  const std::lock_guard lock(mutex_);
  return IdentityOf(items_[item]);
}

// Nothing in it changes while the item reads the same: no age, which
// "time" gives.
void PlantStatus::WritePayload(const ItemState& s, int depth, std::string* out) const {
  static const std::string kEmpty;
  ObjectText payload(out, depth);
  AppendJsonString(payload.Key("item"), s.address);
  AppendJsonString(payload.Key("name"), s.naming ? s.naming->name : kEmpty);
  AppendJsonString(payload.Key("class"), names_[s.family]);
  std::string* value = payload.Key("value");
  if (!s.hasValue)
    value->append("null");
  else if (s.discrete)
    fmt::format_to(std::back_inserter(*value), "{}", static_cast<int>(s.value));
  else
    AppendJsonNumber(value, s.value);
  AppendJsonString(payload.Key("unit"), s.naming ? s.naming->unit : kEmpty);
  AppendJsonTime(payload.Key("time"), s.hasReadAt, s.readAt);
  const Outcome& outcome = errors_[s.outcome];
  payload.Key("ok")->append(outcome.error.ok() ? "true" : "false");
  payload.Key("code")->append(outcome.code);
  payload.Key("error")->append(outcome.text);
  payload.Key("gloss")->append(outcome.gloss);
  std::string* failure = payload.Key("last_failure");
  if (s.lastFailure == 0) {
    failure->append("null");
  } else {
    const Outcome& last = errors_[s.lastFailure];
    ObjectText object(failure, payload.inner());
    object.Key("code")->append(last.code);
    object.Key("error")->append(last.text);
    object.Key("gloss")->append(last.gloss);
    AppendJsonTime(object.Key("time"), s.hasFailedAt, s.failedAt);
    object.Close();
  }
  payload.Close();
}

Message PlantStatus::MessageOf(const ItemState& s) const {
  Message message{Topic(s), {}, true};
  WritePayload(s, -1, &message.payload);
  return message;
}

void PlantStatus::Record(size_t item, const ItemReading& reading) {
  const std::lock_guard lock(mutex_);
  ItemState& s = items_[item];
  s.discrete = reading.discrete;
  s.outcome = OutcomeOf(reading.error, s.outcome);
  if (reading.ok) {
    // The shortest text that reads back as the float, as a double.
    s.hasValue = true;
    s.value = reading.discrete ? reading.discreteValue : ReadingValue(reading);
    s.hasReadAt = reading.readAt.has_value();
    s.readAt = reading.readAt.value_or(Clock::time_point());
  } else {
    s.lastFailure = s.outcome;
    s.hasFailedAt = reading.readAt.has_value();
    s.failedAt = reading.readAt.value_or(Clock::time_point());
  }
  s.published = true;
  if (events_.listening()) events_.Publish("item", JsonText(ItemJson(s)));
}

void PlantStatus::CountCall(size_t item, int exchanges, const ItemReading& reading) {
  const std::lock_guard lock(mutex_);
  Counters& c = *items_[item].counters;
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

void PlantStatus::LineDown(const std::string& line, const ExplainedError& error) {
  const std::lock_guard lock(mutex_);
  const Clock::time_point now = Clock::now();
  LineState& state = lines_[line];
  state.tried = true;
  state.up = false;
  if (!state.downSince) state.downSince = now;
  state.error = error.text;
  LineEvent(line, state);
  const auto named = nameIndex_.find(line);
  if (named == nameIndex_.end()) return;
  const uint32_t outcome = OutcomeOf(error);
  for (ItemState& s : items_) {
    if (s.removed || s.line != named->second) continue;
    s.outcome = outcome;
    s.lastFailure = outcome;
    s.hasFailedAt = true;
    s.failedAt = now;
    s.published = true;
    if (events_.listening()) events_.Publish("item", JsonText(ItemJson(s)));
  }
}

Message PlantStatus::MessageFor(size_t item) const {
  const std::lock_guard lock(mutex_);
  return MessageOf(items_[item]);
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

void PlantStatus::Retained(const MessageTaker& take, int depth, std::mutex* publisher) const {
  constexpr size_t kItemsAtATime = 1024;
  std::vector<Message> messages;
  for (size_t from = 0;; from += kItemsAtATime) {
    messages.clear();
    std::unique_lock publishing =
        publisher ? std::unique_lock(*publisher) : std::unique_lock<std::mutex>();
    {
      const std::lock_guard lock(mutex_);
      if (from >= items_.size()) return;
      for (size_t i = from; i < std::min(items_.size(), from + kItemsAtATime); ++i) {
        const ItemState& s = items_[i];
        if (s.removed || !s.published) continue;
        Message& m = messages.emplace_back(Topic(s), std::string(), true);
        WritePayload(s, depth, &m.payload);
      }
    }
    for (const Message& m : messages) take(m);
  }
}

void PlantStatus::Metrics(const Sink& sink) const {
  Exposition out(sink);
  std::string labels;  // an item's, written anew for each sample
  auto itemLabels = [&](const ItemState& s) {
    labels.clear();
    AppendLabel(&labels, "line", names_[s.line]);
    AppendLabel(&labels, "class", names_[s.family]);
    AppendLabel(&labels, "item", s.address);
    return std::string_view(labels);
  };
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
          if (s.quantity == family.quantity && s.hasValue && s.published &&
              errors_[s.outcome].error.ok())
            out.Sample(itemLabels(s), s.value / family.divisor);
        }))
      return;
  }
  out.Family("tarvo_item_last_read_timestamp_seconds", "gauge",
             "When the item's last value was read, in seconds since 1970.");
  if (!eachItem([&](const ItemState& s) {
        if (s.hasReadAt)
          out.Sample(itemLabels(s), std::chrono::duration_cast<std::chrono::milliseconds>(
                                        s.readAt.time_since_epoch())
                                            .count() /
                                        1000.0);
      }))
    return;
  out.Family("tarvo_item_info", "gauge", "The item's module, name, unit and topic; always 1.");
  if (!eachItem([&](const ItemState& s) {
        itemLabels(s);
        AppendLabel(&labels, "module", std::to_string(s.module));
        AppendLabel(&labels, "name", s.naming ? s.naming->name : std::string());
        AppendLabel(&labels, "unit", s.naming ? s.naming->unit : std::string());
        AppendLabel(&labels, "topic", Topic(s));
        out.Sample(labels, 1);
      }))
    return;
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

Json PlantStatus::ItemJson(const ItemState& s) const {
  const ExplainedError& outcome = errors_[s.outcome].error;
  Json item{{"id", Path(s)},
            {"name", s.naming ? s.naming->name : std::string()},
            {"address", s.address},
            {"unit", s.naming ? s.naming->unit : std::string()},
            {"kind", !s.registerDiscrete ? "analog"
                     : s.writable        ? "do"
                                         : "di"},
            {"writable", s.writable},
            {"state", !s.published   ? "waiting"
                      : outcome.ok() ? "fresh"
                                     : "failed"}};
  const Json value = !s.hasValue  ? Json(nullptr)
                     : s.discrete ? Json(static_cast<int>(s.value))
                                  : Json(s.value);
  item["value"] = value;
  item["text"] = value.is_null() ? Json(nullptr) : Json(JsonText(value));
  item["time"] = s.hasReadAt ? Json(IsoTime(s.readAt)) : Json(nullptr);
  if (s.published && !outcome.ok()) {
    item.update(ErrorJson(outcome));
  } else {
    const std::optional<int> code = s.published ? CodeOf(outcome) : std::nullopt;
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
      if (s.removed) continue;
      const std::string& line = names_[s.line];
      const ModuleKey key{line, names_[s.family], s.module};
      const auto module = modules.find(key);
      // A line added by a reload since the lines were taken waits for the next call.
      if (module == modules.end() || !lineJson.contains(line)) continue;
      if (module->second["items"].empty()) {
        moduleOrder.push_back(key);
        if (std::find(lineOrder.begin(), lineOrder.end(), line) == lineOrder.end())
          lineOrder.push_back(line);
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
    items->push_back({s.hasValue ? std::optional<double>(s.value) : std::nullopt,
                      s.hasReadAt ? std::optional<Clock::time_point>(s.readAt) : std::nullopt,
                      s.published, CodeOf(errors_[s.outcome].error)});
  }
  const auto up = lines_.find(line);
  return up != lines_.end() && up->second.up;
}

}  // namespace tarvo::tools
