// One serial line of tarvo-gateway: the plant engine polls it on a thread
// of its own; this front end publishes each fresh value as it arrives,
// keeps the plant's status, logs what changes, and turns the messages of
// an item's set topic into writes, answered on its result topic. The
// plant file's writes, made in the first poll, are logged and answered on
// the result topic as well.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/common/driver_library.h"
#include "tools/gateway/discovery.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/plant_status.h"
#include "tools/gateway/write_payload.h"
#include "tools/plant/line_poller.h"

namespace tarvo::tools {

// Counts the commands the library sends, per polling thread (the trace
// handler runs inside the driver call, on the caller's thread).
void CountExchanges(const DriverLibrary& library);

class LineWorker : private LineObserver {
 public:
  using Publisher = std::function<void(const Message&)>;

  // The library and the status must outlive the worker. A device path is
  // mapped to the port number mappedPort.
  LineWorker(const DriverLibrary& library, GatewayLine line, int32_t mappedPort,
             PlantStatus& status, const std::string& prefix, Publisher publish, bool verbose);
  // Stops the polling before the items it reports on go.
  ~LineWorker() { poller_.Stop(); }
  LineWorker(const LineWorker&) = delete;
  LineWorker& operator=(const LineWorker&) = delete;

  // Creates the driver objects, parses every item and write and enters the
  // items in the status. False after a message for each refusal. Without
  // makePlantWrites the plant file's writes are checked, not made.
  bool Prepare(const std::string& libraryPath, bool makePlantWrites = true) {
    return Check(libraryPath, makePlantWrites) && (Enter(), true);
  }
  // The two halves of Prepare: a new plant's line is checked while the
  // running one still polls, and entered once that one has gone.
  bool Check(const std::string& libraryPath, bool makePlantWrites = true);
  void Enter();
  const std::string& name() const { return name_; }
  // Its items' set topics, an output's or not.
  std::vector<std::string> SetTopics() const;
  // The line and its items, for Home Assistant.
  void Describe(Discovery& discovery) const;
  // The line's status message: "online" while it is open, "offline" while
  // it is down and after Stop; nothing before the first try.
  std::optional<Message> LineStatus() const;
  // A message on one of its set topics; false for a topic not its own. One
  // to an item that is not an output is answered with a refusal. The answer
  // goes to the result topic and to `reply`'s response topic, if any.
  bool HandleSet(const std::string& topic, std::string_view payload, const WriteReply& reply = {});
  // Writes `value` to item `item` (the poller's number) before the next
  // call, from any thread; answered on the item's result topic (and
  // `reply`'s response topic, if any).
  void Write(size_t item, uint32_t value, WriteReply reply = {});
  // The answers to the plant file's writes made so far.
  const std::vector<Message>& plantWrites() const { return plantWrites_; }

  // Polls on a thread of its own until Stop, which ends it after the call
  // in progress and closes the line.
  void Start() { poller_.Start(); }
  void Stop() {
    poller_.Stop();
    if (up_ != Up::kUnknown) up_ = Up::kOffline;
  }
  // Opens the line, polls every item once, closes it, on the caller's
  // thread. False when an item or the line failed.
  bool PollOnce();

 private:
  // One compact record per item: its names and topics are the plant's
  // (the poller's item specs) and the status's, built when needed.
  struct Item {
    size_t status = 0;       // in the PlantStatus
    uint32_t policy = 0;     // in policies_
    uint32_t lastError = 0;  // in errors_: the error last logged for it; 0 while it reads
    bool writable = false;
    bool discrete = false;
    bool published = false;  // what was last published: polling thread only
    bool publishedOk = false;
    uint32_t publishedError = 0;  // in errors_
    std::optional<double> publishedValue;
    std::chrono::steady_clock::time_point publishedAt;
  };

  LineWorker(const DriverLibrary& library, const GatewayLine& line,
             std::pair<std::vector<LineMember>, LineConfig> parts, int32_t mappedPort,
             PlantStatus& status, const std::string& prefix, Publisher publish, bool verbose);
  // The topic of an item below its line: its own, else its address.
  const std::string& Leaf(size_t item) const;
  // An error text's entry in errors_, added when new (polling thread only).
  uint32_t ErrorIndex(const std::string& text);
  void Say(const std::string& message) override;
  void LineUp() override;
  void LineDown(const ExplainedError& error) override;
  void OpenFailed() override { status_.OpenFailed(name_); }
  void Called(size_t item, const ItemReading& reading) override;
  void Written(size_t item, uint32_t value, const ExplainedError& outcome, bool ok) override;
  void PlantWritten(const ItemReading& reading) override;
  void PollEnded(const PollRecord& poll) override;
  void AnswerWrite(size_t item, std::optional<uint32_t> value, const ExplainedError& outcome,
                   bool ok, const WriteReply& reply);
  // The reply of the oldest write not answered yet (the polling thread
  // answers the writes in the order they were made).
  WriteReply TakeReply(size_t item);
  // Whether a reading (ok with `value`, or failed with `error`) is
  // published by the item's policy; if so, taken as published.
  bool Due(Item& item, bool ok, double value, const std::string& error);

  std::string name_;
  std::vector<PublishPolicy> policies_;             // the line's, then the items' own
  std::map<std::string, uint32_t> itemPolicies_;    // in policies_, by item topic
  std::vector<std::string> errors_{std::string()};  // the error texts logged or published
  PlantStatus& status_;
  std::string prefix_;
  Publisher publish_;
  bool verbose_;
  LinePoller poller_;
  std::vector<Item> items_;  // as the poller numbers them
  // The items by their topic below the line, and by their address (each
  // in the items' order where two are equal).
  std::vector<uint32_t> byLeaf_;
  std::vector<uint32_t> byAddress_;
  std::vector<Message> plantWrites_;
  std::mutex replies_;  // guards pendingReplies_
  // Of the writes not answered yet, by item, oldest first.
  std::map<size_t, std::list<WriteReply>> pendingReplies_;
  enum class Up { kUnknown, kOnline, kOffline };
  std::atomic<Up> up_{Up::kUnknown};
};

}  // namespace tarvo::tools
