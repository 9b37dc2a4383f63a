// The messages of the gateway's set topics, handed to the line whose item
// they name. The gateway subscribes to every depth of topic its items use
// (PREFIX/+/+/set and deeper), so that a message to an item that is not an
// output, or to no item at all, is heard and logged rather than lost.
//
// A retained message is never a write: the broker replays it each time
// the gateway subscribes, long after it was sent. It is ignored with a
// warning. An empty message (how MQTT clears a retained one; a client
// subscribed at the time gets it as a live one) is ignored silently.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tools/gateway/line_worker.h"

namespace tarvo::tools {

// Topic filters that receive each of `setTopics` once, with every other
// set topic of the same depth under `prefix`; no two overlap.
std::vector<std::string> SetSubscriptions(const std::string& prefix,
                                          const std::vector<std::string>& setTopics);

class SetRouter {
 public:
  // The workers must outlive the router.
  explicit SetRouter(const std::vector<std::unique_ptr<LineWorker>>& workers) : workers_(workers) {}

  void Handle(const std::string& topic, std::string_view payload, bool retained,
              const WriteReply& reply = {});

 private:
  const std::vector<std::unique_ptr<LineWorker>>& workers_;
  std::mutex mutex_;                            // guards unknown_
  std::set<std::string, std::less<>> unknown_;  // topics naming no item, logged
};

}  // namespace tarvo::tools
