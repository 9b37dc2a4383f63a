// One serial line of tarvo-gateway on a thread of its own: its driver
// objects (one per class, as tarvo-poll keeps them), polled in the order
// the modules' gates allow, each fresh value published as it arrives. A
// line that fails (its device gone, its port refusing) is closed and
// opened again with back-off; a module that stops answering only fails its
// own items. Writes asked for on an item's set topic go first, between
// two driver calls, and are answered on its result topic.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/driver_library.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/plant_status.h"
#include "tools/poll/plant_poller.h"
#include "tools/poll/shared_line.h"

namespace tarvo::tools {

// Counts the commands the library sends, per polling thread (the trace
// handler runs inside the driver call, on the caller's thread).
void CountExchanges(const DriverLibrary& library);

class LineWorker {
 public:
  using Clock = std::chrono::system_clock;
  using Publisher = std::function<void(const Message&)>;

  // The library and the status must outlive the worker. A device path is
  // mapped to the port number mappedPort.
  LineWorker(const DriverLibrary& library, GatewayLine line, int32_t mappedPort,
             PlantStatus& status, const std::string& prefix, Publisher publish, bool verbose);
  ~LineWorker();
  LineWorker(const LineWorker&) = delete;
  LineWorker& operator=(const LineWorker&) = delete;

  // Creates the driver objects, parses every item (and a write on demand
  // for each writable one) and enters the items in the status. False after
  // a message for each refusal.
  bool Prepare(const std::string& libraryPath);
  // The topics its writes arrive on.
  std::vector<std::string> SetTopics() const;
  // A message on one of its set topics; false for a topic not its own.
  bool HandleSet(const std::string& topic, const std::string& payload);

  // Polls on a thread of its own until Stop, which ends it after the call
  // in progress and closes the line.
  void Start();
  void Stop();
  // Opens the line, polls every item once, closes it, on the caller's
  // thread. False when an item or the line failed.
  bool PollOnce();

 private:
  struct Item {
    size_t status;    // in the PlantStatus
    size_t readSlot;  // in the poller
    std::optional<size_t> writeSlot;
    std::string setTopic;
    std::string resultTopic;
    std::string lastError;  // the error last logged for it; empty while it reads
  };
  struct WriteRequest {
    size_t item;
    uint32_t value;
  };

  void Run();
  bool OpenLine();
  void LineFailed(const ExplainedError& error);
  PlantPoller::Hooks Hooks();
  void Called(size_t slot, const ItemReading& reading);
  void TakeWrites();
  void AnswerWrite(size_t item, std::optional<uint32_t> value, const ExplainedError& outcome,
                   bool ok);
  // Until `until`, Stop or a write asked for.
  void WaitUntil(Clock::time_point until);
  void Say(const std::string& message) const;

  GatewayLine line_;
  PlantStatus& status_;
  std::string prefix_;
  Publisher publish_;
  bool verbose_;
  SharedLine shared_;
  std::optional<PlantPoller> poller_;
  std::vector<int> timeouts_;
  std::vector<Item> items_;
  std::vector<std::optional<size_t>> itemOfSlot_;
  std::map<size_t, uint32_t> armed_;  // item: the value its armed write writes

  bool open_ = false;
  std::string lineProblem_;              // the last logged, while the line is down
  std::optional<ExplainedError> fault_;  // a port failure in the poll running
  bool answered_ = false;                // a call of the poll running succeeded
  int polls_ = 0;

  std::mutex mutex_;  // guards what follows
  std::condition_variable wake_;
  std::deque<WriteRequest> requests_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace tarvo::tools
