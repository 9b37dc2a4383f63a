// What tarvo-gateway knows of its plant, shared by the line threads that
// fill it, the broker link that republishes it and the HTTP endpoint that
// shows it: each item's last value and outcome (its MQTT payload), the
// counters of exchanges, reads, failures and writes per line and module,
// and whether each line and the broker are up. Thread-safe.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tools/common/error_glosses.h"
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

  // Before any thread uses the status: the lines and their items.
  void AddLine(const std::string& line);
  size_t AddItem(ItemIdentity identity);
  const ItemIdentity& identity(size_t item) const { return items_[item].identity; }
  size_t items() const { return items_.size(); }

  // A read's outcome (not code 23): the item's message to publish.
  Message Record(size_t item, const ItemReading& reading);
  // A driver call on the item's module ended after `exchanges` commands
  // sent; a read's or write's outcome is counted unless it is code 23.
  void CountCall(size_t item, int exchanges, const ItemReading& reading);
  // The line is open (or not, failing with `error`: each of its items'
  // outcome becomes that error; their messages to publish).
  void LineUp(const std::string& line);
  std::vector<Message> LineDown(const std::string& line, const ExplainedError& error);
  void BrokerConnected(std::optional<bool> connected);  // nothing: no broker configured

  // The message of every item that has had one, to publish again.
  std::vector<Message> Retained() const;
  // The Prometheus text exposition of it all at `now`.
  std::string Metrics(Clock::time_point now) const;
  // Whether the gateway does its work (the broker reached, a line up),
  // and a JSON text that says what is up: "status" is "ok" with every line
  // up, "degraded" while it works with a line down, else "failing".
  std::pair<bool, std::string> Health() const;

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
  struct ItemState {
    ItemIdentity identity;
    bool discrete = false;
    std::optional<double> value;
    std::optional<Clock::time_point> readAt;  // of the value
    ExplainedError outcome;                   // of the latest read
    std::optional<ExplainedError> lastFailure;
    std::optional<Clock::time_point> failedAt;
    bool published = false;  // a message was made
  };
  struct Counters {
    long exchanges = 0;
    long reads = 0;
    std::map<std::string, long> failures;  // by code
    std::map<std::string, long> writes;    // by code, "0" for written
  };
  using ModuleKey = std::tuple<std::string, std::string, int>;  // line, family, module

  Message MessageOf(const ItemState& state) const;

  mutable std::mutex mutex_;
  std::vector<ItemState> items_;
  std::map<std::string, bool> lines_;  // up
  std::map<std::string, long> opens_;  // times each line was opened
  std::map<ModuleKey, Counters> counters_;
  std::optional<bool> broker_;
};

// The code of an error text as payloads and labels show it: its one code,
// the lower of two that share the text, nothing for a text not known.
std::optional<int> CodeOf(const ExplainedError& error);

}  // namespace tarvo::tools
