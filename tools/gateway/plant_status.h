// What tarvo-gateway knows of its plant, shared by the line threads that
// fill it, the broker link that republishes it and the HTTP endpoint that
// shows it: each item's last value and outcome (its MQTT payload), the
// counters of exchanges, reads, failures and writes per line and module,
// each line's poll durations, and whether each line and the broker are up.
// Lines come and go when the plant is reloaded. Thread-safe. Each change
// is also an event for the live page, made only while someone reads.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tools/common/error_glosses.h"
#include "tools/gateway/event_hub.h"
#include "tools/plant/driver_classes.h"
#include "tools/plant/readings.h"

namespace tarvo::tools {

struct ItemIdentity {
  std::string line;    // the line's name
  std::string family;  // "pxr5100"
  int module = 0;
  std::string item;  // the address as given
  std::string name;
  std::string unit;
  std::string topic;  // the whole topic: prefix/line/item
  std::string path;   // the topic without the prefix: line/item, unique
  bool writable = false;
  bool discrete = false;
  // What its register measures (AddItem finds it from family and item).
  Quantity quantity = Quantity::kPlain;
};

struct Message {
  Message() = default;
  Message(std::string topic, std::string payload, bool retain = true, std::string correlation = {})
      : topic(std::move(topic)),
        payload(std::move(payload)),
        retain(retain),
        correlation(std::move(correlation)) {}

  std::string topic;
  std::string payload;
  bool retain = true;
  std::string correlation;  // MQTT v5 correlation data, answering a request that gave it
};

class PlantStatus {
 public:
  using Clock = std::chrono::system_clock;
  // Takes a piece of the exposition text; false: stop, the reader is gone.
  using Sink = std::function<bool(std::string_view)>;

  // A line (its port as the plant gives it) and its items, before its
  // thread starts.
  void AddLine(const std::string& line, const std::string& port = {});
  size_t AddItem(ItemIdentity identity);
  // A line whose thread has ended goes with its items and counters: the
  // topics of its items that had a message.
  std::vector<std::string> RemoveLine(const std::string& line);
  // A copy: a reload may add items while other lines poll.
  ItemIdentity identity(size_t item) const;
  // The item slots; before any line is removed, the number the next item takes.
  size_t items() const;

  // A read's outcome (not code 23); MessageFor gives its message.
  void Record(size_t item, const ItemReading& reading);
  // A driver call on the item's module ended after `exchanges` commands
  // sent; a read's or write's outcome is counted unless it is code 23.
  void CountCall(size_t item, int exchanges, const ItemReading& reading);
  // The line is open (or not, failing with `error`: each of its items'
  // outcome becomes that error, their messages to publish again).
  void LineUp(const std::string& line);
  void LineDown(const std::string& line, const ExplainedError& error);
  // The item's message as it stands.
  Message MessageFor(size_t item) const;
  // The line could not be opened, once more.
  void OpenFailed(const std::string& line);
  // A poll of the line took `duration`.
  void PollEnded(const std::string& line, Clock::duration duration);
  void BrokerConnected(std::optional<bool> connected);  // nothing: no broker configured

  // The message of every item that has had one, to publish again, handed
  // to `take` one at a time (the status is locked a thousand items at a
  // time, not while `take` runs); `depth` >= 0: each payload indented by
  // 2 as it stands at that depth of a document, as --once prints it.
  // `publisher`, if given, is held from the reading of each thousand to the
  // taking of its last message: a newer message of one of them, published
  // under it, goes out after.
  using MessageTaker = std::function<void(const Message&)>;
  void Retained(const MessageTaker& take, int depth = -1, std::mutex* publisher = nullptr) const;
  // The Prometheus text exposition of it all, with the gateway process's
  // own metrics, in pieces of some 64 KiB handed to `sink` (the status
  // is locked only while a piece is made); or in one text.
  void Metrics(const Sink& sink) const;
  std::string Metrics() const;
  // Whether the gateway does its work (the broker reached, a line up),
  // and a JSON text that says what is up: "status" is "ok" with every line
  // up, "degraded" while it works with a line down, else "failing".
  std::pair<bool, std::string> Health() const;
  // The plant as the page shows it: {"gateway": {"broker", "started",
  // "version"}, "lines": [{"name", "port", "state", "down_since",
  // "reopen_attempts", "error", "modules": [{"class", "module", "failures",
  // "items": [...]}]}]}, each item as its "item" event gives it.
  nlohmann::ordered_json Plant() const;
  // The live events: "item", "line" and "broker" made here, "write" by the
  // writes' answers.
  EventHub& events() const { return events_; }

  // An item as a front end that answers from memory shows it.
  struct ItemSnapshot {
    std::optional<double> value;              // the last value read
    std::optional<Clock::time_point> readAt;  // of that value
    bool outcome = false;                     // a read ended, or the line failed
    std::optional<int> code;  // of the latest outcome (0: read); nothing for an unknown text
  };
  // Items first to first + count - 1 (a line's) into *items; whether `line` is up.
  bool Snapshot(const std::string& line, size_t first, size_t count,
                std::vector<ItemSnapshot>* items) const;

 private:
  // One compact record per item: what the plant gives (names, topics) is
  // kept once where it can be derived (the topic from the line and the
  // address), and the outcomes are shared entries of errors_.
  struct Naming {  // only for an item with a name, a unit or a topic of its own
    std::string name;
    std::string unit;
    std::string path;   // empty: line/address
    std::string topic;  // empty: the topic head and the path
  };
  struct Counters {
    std::string labels;  // line, class, module, as the exposition writes them
    long exchanges = 0;
    long reads = 0;
    long writes = 0;
    std::map<std::string, long> readFailures;   // by code
    std::map<std::string, long> writeFailures;  // by code
  };
  struct ItemState {
    std::string address;  // the item as given
    std::unique_ptr<Naming> naming;
    Counters* counters = nullptr;  // its module's
    uint32_t line = 0;             // in names_
    uint32_t family = 0;           // in names_
    uint32_t topicHead = 0;        // in names_: the topic before the path
    uint32_t outcome = 0;          // in errors_: of the latest read (0: none yet)
    uint32_t lastFailure = 0;      // in errors_ (0: none)
    int module = 0;
    Quantity quantity = Quantity::kPlain;
    bool removed = false;  // its line went: the slot is free
    bool writable = false;
    bool registerDiscrete = false;  // the register's kind
    bool discrete = false;          // of the value read
    bool published = false;         // a message was made
    bool hasValue = false;
    bool hasReadAt = false;
    bool hasFailedAt = false;
    double value = 0;
    Clock::time_point readAt;  // of the value
    Clock::time_point failedAt;
  };
  // An outcome, with its parts as JSON text.
  struct Outcome {
    ExplainedError error;
    std::string code;  // "0", or "null" for an unknown text
    std::string text;  // the text as a JSON string
    std::string gloss;
  };
  struct LineState {
    std::string port;
    bool tried = false;  // opened or failed to, once at least
    bool up = false;
    std::optional<Clock::time_point> downSince;
    long openFailures = 0;  // since it was last open
    std::string error;      // why it is down
    long opens = 0;
    long polls = 0;
    double pollSeconds = 0;  // summed
  };
  using ModuleKey = std::tuple<std::string, std::string, int>;  // line, family, module

  uint32_t Name(std::string_view text);
  // The entry of errors_ of `error`, added when new; `likely` is tried first.
  uint32_t OutcomeOf(const ExplainedError& error, uint32_t likely = 0);
  std::string Path(const ItemState& state) const;
  std::string Topic(const ItemState& state) const;
  ItemIdentity IdentityOf(const ItemState& state) const;
  // The item's payload, compact (depth < 0) or indented by 2 at `depth`.
  void WritePayload(const ItemState& state, int depth, std::string* out) const;
  Message MessageOf(const ItemState& state) const;
  nlohmann::ordered_json ItemJson(const ItemState& state) const;
  static nlohmann::ordered_json LineJson(const std::string& line, const LineState& state);
  void LineEvent(const std::string& line, const LineState& state) const;

  mutable std::mutex mutex_;
  std::vector<ItemState> items_;
  std::vector<size_t> freeSlots_;  // of removed items, for the next added
  // Lines, families and topic heads, each once (a reload adds a few).
  std::vector<std::string> names_;
  std::map<std::string, uint32_t, std::less<>> nameIndex_;
  // The outcomes seen: the driver's error texts and the lines' problems.
  std::vector<Outcome> errors_;
  std::map<std::string, LineState> lines_;
  std::map<ModuleKey, Counters> counters_;
  std::optional<bool> broker_;
  Clock::time_point started_ = Clock::now();
  mutable EventHub events_;
};

// The code of an error text as payloads and labels show it: its one code,
// the lower of two that share the text, nothing for a text not known.
std::optional<int> CodeOf(const ExplainedError& error);

// A reading's value as a double: the shortest text that reads back as the
// float, read as a double (what the payloads and the metrics show).
double ReadingValue(const ItemReading& reading);

}  // namespace tarvo::tools
