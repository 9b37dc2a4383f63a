// tarvo-gateway's HTTP endpoint: /metrics for Prometheus, /health for a
// supervisor (200 while the gateway does its work, 503 otherwise, with a
// JSON text that says what is up). Serves on a thread of its own; the
// metrics are streamed. A port in use (another instance, one just stopped)
// is tried again with growing waits, the gateway polling and publishing
// meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/plant_status.h"

namespace httplib {
class Server;
}

namespace tarvo::tools {

class HttpEndpoint {
 public:
  explicit HttpEndpoint(const PlantStatus& status);
  ~HttpEndpoint();
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;

  // Binds the address and port and serves, on a thread of its own; the log
  // says where ("metrics on http://ADDRESS:PORT/metrics"), or why not yet.
  void Start(const HttpSettings& settings);
  void Stop();
  // The port bound; 0 until then.
  int port() const { return port_; }

 private:
  void Serve(const HttpSettings& settings);

  const PlantStatus& status_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::mutex mutex_;  // guards stopping_
  std::condition_variable stop_;
  bool stopping_ = false;
  std::atomic<bool> listening_ = false;  // bound, serving or about to
  std::atomic<int> port_ = 0;
};

}  // namespace tarvo::tools
