// An MQTT broker and a client for the gateway's tests: Debian's mosquitto
// run on a free loopback port (stopped and started again on the same
// port), and a client that keeps every message it receives on the topics
// it subscribed to, reconnecting by itself like any dashboard would.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/process.h"

struct mosquitto;

namespace tarvo::test {

class Broker {
 public:
  // Writes its configuration into `dir` and starts it.
  explicit Broker(const TempDir& dir);
  int port() const { return port_; }
  bool running() const { return process_.has_value(); }
  void Stop();
  void Start();

 private:
  std::string config_;
  int port_;
  std::optional<Process> process_;
};

class MqttProbe {
 public:
  using Clock = std::chrono::steady_clock;
  struct Received {
    std::string topic;
    std::string payload;
    bool retained;
    Clock::time_point at;
  };

  MqttProbe(int port, const std::string& subscription);
  ~MqttProbe();
  MqttProbe(const MqttProbe&) = delete;
  MqttProbe& operator=(const MqttProbe&) = delete;

  void Publish(const std::string& topic, const std::string& payload, bool retain = false);
  // Waits until `done` holds for the messages received so far (true) or
  // `limit` passes (false).
  bool WaitFor(const std::function<bool(const std::vector<Received>&)>& done,
               std::chrono::milliseconds limit);
  // The last payload on `topic` received at or after `since`, if any.
  std::optional<std::string> Last(const std::string& topic,
                                  Clock::time_point since = Clock::time_point()) const;
  std::vector<Received> received() const;

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  std::string subscription_;
  mosquitto* client_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Received> received_;
};

// A port no one listens on now, on the loopback address.
int FreeLoopbackPort();

}  // namespace tarvo::test
