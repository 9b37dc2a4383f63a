// tarvo-gateway's HTTP endpoint: /metrics for Prometheus, /health for a
// supervisor (200 while the gateway does its work, 503 otherwise, with a
// JSON text that says what is up), the JSON API under /api/ (http_api.h);
// over HTTPS when a certificate and key are given. Serves on a thread of
// its own; the metrics are streamed. A port in use (another instance, one
// just stopped) is tried again with growing waits, the gateway polling and
// publishing meanwhile.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/http_api.h"
#include "tools/gateway/plant_status.h"

namespace httplib {
class Server;
}

namespace tarvo::tools {

class HttpEndpoint {
 public:
  // `write` makes the API's writes (none without it).
  explicit HttpEndpoint(const PlantStatus& status, ApiWrite write = {});
  ~HttpEndpoint();
  HttpEndpoint(const HttpEndpoint&) = delete;
  HttpEndpoint& operator=(const HttpEndpoint&) = delete;

  // Binds the address and port and serves, on a thread of its own; the log
  // says where ("metrics on http://ADDRESS:PORT/metrics"), or why not yet.
  // False, with why in *problem, for settings it cannot serve: writes open
  // to the network, a certificate or key that cannot be used.
  bool Start(const HttpSettings& settings, std::string* problem);
  void Stop();
  // The port bound; 0 until then.
  int port() const { return port_; }

 private:
  void Serve(const HttpSettings& settings);

  const PlantStatus& status_;
  ApiWrite write_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  std::mutex mutex_;  // guards stopping_
  std::condition_variable stop_;
  bool stopping_ = false;
  std::atomic<bool> listening_ = false;  // bound, serving or about to
  std::atomic<int> port_ = 0;
};

}  // namespace tarvo::tools
