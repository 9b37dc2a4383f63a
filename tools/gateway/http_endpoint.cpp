#include "tools/gateway/http_endpoint.h"

#include <fmt/format.h>
#include <httplib.h>

namespace tarvo::tools {
namespace {

// Each connection holds a worker while it is served. A client that
// connects and sends nothing, or too slowly, gives its worker up after
// kIdle without a byte; one that keeps its connection gives it up after
// kRequestsPerConnection requests. So idle clients delay a scrape by kIdle
// for each kWorkers of them at the most, and memory stays bounded.
constexpr size_t kWorkers = 32;
constexpr std::chrono::seconds kIdle{1};
constexpr size_t kRequestsPerConnection = 10;
constexpr std::chrono::seconds kWriteTimeout{2};
// Neither path takes a body: anything past a few bytes is refused (413).
constexpr size_t kLongestBody = 1024;

}  // namespace

HttpEndpoint::HttpEndpoint(const PlantStatus& status)
    : status_(status), server_(std::make_unique<httplib::Server>()) {
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_->set_read_timeout(kIdle);
  server_->set_keep_alive_timeout(kIdle.count());
  server_->set_keep_alive_max_count(kRequestsPerConnection);
  server_->set_write_timeout(kWriteTimeout);
  server_->set_payload_max_length(kLongestBody);
  // Streamed as it is made (gzip where the client takes it): a full line
  // is tens of megabytes of text.
  server_->Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    response.set_chunked_content_provider(
        "text/plain; version=0.0.4; charset=utf-8", [this](size_t, httplib::DataSink& sink) {
          status_.Metrics(
              [&](std::string_view piece) { return sink.write(piece.data(), piece.size()); });
          sink.done();
          return true;
        });
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
