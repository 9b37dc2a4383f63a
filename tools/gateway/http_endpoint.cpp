#include "tools/gateway/http_endpoint.h"

#include <fmt/format.h>
#include <httplib.h>

namespace tarvo::tools {

HttpEndpoint::HttpEndpoint(const PlantStatus& status)
    : status_(status), server_(std::make_unique<httplib::Server>()) {
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(status_.Metrics(PlantStatus::Clock::now()),
                         "text/plain; version=0.0.4; charset=utf-8");
  });
  server_->Get("/health", [this](const httplib::Request&, httplib::Response& response) {
    const auto [healthy, text] = status_.Health();
    response.status = healthy ? 200 : 503;
    response.set_content(text, "application/json");
  });
}

HttpEndpoint::~HttpEndpoint() { Stop(); }

bool HttpEndpoint::Start(const HttpSettings& settings, std::string* error) {
  port_ = settings.port == 0
              ? server_->bind_to_any_port(settings.address)
              : (server_->bind_to_port(settings.address, settings.port) ? settings.port : -1);
  if (port_ < 0) {
    *error = fmt::format("cannot serve HTTP on {}:{} (in use, or not an address of this machine)",
                         settings.address, settings.port);
    return false;
  }
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void HttpEndpoint::Stop() {
  if (!thread_.joinable()) return;
  server_->stop();
  thread_.join();
}

}  // namespace tarvo::tools
