#include "tools/gateway/http_endpoint.h"

#include <fmt/format.h>
#include <httplib.h>

#include "tools/gateway/gateway_log.h"
#include "tools/gateway/plant_page.h"

namespace tarvo::tools {
namespace {

// Each connection holds a worker while it is served. A client that
// connects and sends nothing, or too slowly, gives its worker up after
// kIdle without a byte; one that keeps its connection gives it up after
// kRequestsPerConnection requests. So idle clients delay a scrape by kIdle
// for each kWorkers of them at the most, and memory stays bounded.
// An event stream holds its worker while it is open: half of them at most
// (EventHub::kMostReaders), the other half left for the rest.
constexpr size_t kWorkers = 2 * EventHub::kMostReaders;
constexpr std::chrono::seconds kIdle{1};
constexpr size_t kRequestsPerConnection = 10;
constexpr std::chrono::seconds kWriteTimeout{2};
// Only a write takes a body, of a few bytes: anything longer is refused (413).
constexpr size_t kLongestBody = 1024;
constexpr std::chrono::seconds kFirstRetry{1};
constexpr std::chrono::seconds kLongestRetry{30};

}  // namespace

HttpEndpoint::HttpEndpoint(const PlantStatus& status, ApiWrite write)
    : status_(status), write_(std::move(write)) {}

HttpEndpoint::~HttpEndpoint() { Stop(); }

bool HttpEndpoint::Start(const HttpSettings& settings, std::string* problem) {
  if (std::optional<std::string> unsafe = WriteSafetyProblem(settings)) {
    *problem = *unsafe;
    return false;
  }
  if (settings.certificate.empty()) {
    server_ = std::make_unique<httplib::Server>();
  } else {
    server_ =
        std::make_unique<httplib::SSLServer>(settings.certificate.c_str(), settings.key.c_str());
    if (!server_->is_valid()) {
      *problem = fmt::format("HTTPS: cannot use the certificate {} with the key {}",
                             settings.certificate, settings.key);
      return false;
    }
  }
  server_->new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
  server_->set_read_timeout(kIdle);
  server_->set_keep_alive_timeout(kIdle.count());
  server_->set_keep_alive_max_count(kRequestsPerConnection);
  server_->set_write_timeout(kWriteTimeout);
  server_->set_payload_max_length(kLongestBody);
  // The port reused after a restart (SO_REUSEADDR), never shared: the
  // library's default (SO_REUSEPORT) lets a second gateway bind it too,
  // and the system then hands each scrape to either.
  server_->set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
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
  AddApiRoutes(*server_, status_, settings, write_);
  ServePage(*server_);
  thread_ = std::thread([this, settings] { Serve(settings); });
  return true;
}

void HttpEndpoint::Serve(const HttpSettings& settings) {
  std::chrono::seconds wait = kFirstRetry;
  while (true) {
    const int port =
        settings.port == 0
            ? server_->bind_to_any_port(settings.address)
            : (server_->bind_to_port(settings.address, settings.port) ? settings.port : -1);
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    if (port >= 0) {
      Log(fmt::format("metrics on {}://{}:{}/metrics",
                      settings.certificate.empty() ? "http" : "https", settings.address, port));
      listening_ = true;
      port_ = port;
      break;
    }
    if (wait == kFirstRetry)
      Log(
          fmt::format("cannot serve HTTP on {}:{} (in use, or not an address of this machine); "
                      "trying again every {} to {} s",
                      settings.address, settings.port, kFirstRetry.count(), kLongestRetry.count()));
    if (stop_.wait_for(lock, wait, [&] { return stopping_; })) return;
    wait = std::min(wait * 2, kLongestRetry);
  }
  server_->listen_after_bind();
  listening_ = false;
}

void HttpEndpoint::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  status_.events().Close();  // the streams end
  // The server stops only once it runs.
  while (listening_ && !server_->is_running())
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
  thread_.join();
}

}  // namespace tarvo::tools
