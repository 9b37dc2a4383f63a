// tarvo-gateway's HTTP endpoint: /metrics for Prometheus, /health for a
// supervisor (200 while the gateway does its work, 503 otherwise, with a
// JSON text that says what is up). Serves on a thread of its own; the
// metrics are streamed.
#pragma once

#include <memory>
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

  // Binds the address and port and starts serving. False, with *error,
  // when the port cannot be had.
  bool Start(const HttpSettings& settings, std::string* error);
  int port() const { return port_; }  // the one bound
  void Stop();

 private:
  const PlantStatus& status_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace tarvo::tools
