#include "tools/gateway/http_api.h"

#include <fmt/format.h>
#include <httplib.h>
#include <openssl/evp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "tools/common/json_text.h"

namespace tarvo::tools {
namespace {

using Json = nlohmann::ordered_json;

// How long a write's answer waits for its outcome before saying "pending".
constexpr std::chrono::seconds kWriteWait{5};
// A stream with nothing to say says so this often (a comment line); it
// looks whether its reader is still there more often.
constexpr std::chrono::seconds kKeepAlive{15};
constexpr std::chrono::seconds kReaderCheck{1};
constexpr size_t kLongestId = 64;

bool Loopback(const std::string& address) {
  return address.starts_with("127.") || address == "::1" || address == "localhost";
}

const char* AuthOf(const HttpSettings& settings) {
  return !settings.token.empty() ? "token" : !settings.users.empty() ? "basic" : "none";
}

// Compares in a time that depends on the lengths only, not on where the
// texts differ.
bool SameSecret(std::string_view given, std::string_view secret) {
  unsigned char differ = given.size() == secret.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i)
    differ |= static_cast<unsigned char>(given[i] ^ secret[i % std::max<size_t>(secret.size(), 1)]);
  return differ == 0;
}

std::string Base64(std::string_view text) {
  std::string encoded(4 * ((text.size() + 2) / 3) + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                     reinterpret_cast<const unsigned char*>(text.data()),
                                     static_cast<int>(text.size()));
  encoded.resize(static_cast<size_t>(length));
  return encoded;
}

bool Authorized(const HttpSettings& settings, const std::vector<std::string>& basics,
                const httplib::Request& request) {
  if (settings.token.empty() && basics.empty()) return true;
  const std::string header = request.get_header_value("Authorization");
  bool ok = false;
  if (!settings.token.empty() && header.starts_with("Bearer "))
    ok = SameSecret(std::string_view(header).substr(7), settings.token);
  if (header.starts_with("Basic "))
    for (const std::string& basic : basics)
      ok = SameSecret(std::string_view(header).substr(6), basic) || ok;
  return ok;
}

// Whether an Origin header ("http://host:port") names the host the
// request was sent to (its Host header).
bool SameOrigin(std::string_view origin, std::string_view host) {
  const size_t scheme = origin.find("://");
  if (scheme == std::string_view::npos || host.empty()) return false;
  origin.remove_prefix(scheme + 3);
  if (origin.size() != host.size()) return false;
  for (size_t i = 0; i < host.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(origin[i])) !=
        std::tolower(static_cast<unsigned char>(host[i])))
      return false;
  return true;
}

// Whether a Host header ("name:port", "[::1]:port") names this machine
// itself. A page whose own name a hostile DNS server has pointed at
// 127.0.0.1 sends its own name, and passes the origin check.
bool LoopbackHost(std::string_view host) {
  if (host.starts_with("[")) {
    host = host.substr(1, host.find(']') - 1);
  } else if (const size_t colon = host.rfind(':'); colon != std::string_view::npos) {
    host = host.substr(0, colon);
  }
  return Loopback(std::string(host));
}

void Answer(httplib::Response& response, int status, const std::string& json) {
  response.status = status;
  response.set_content(json + "\n", "application/json");
}

void Refuse(httplib::Response& response, int status, const std::string& why) {
  Answer(response, status, JsonText(Json{{"error", why}}));
}

// A write's outcome, told by the line's thread to the request waiting.
struct Outcome {
  std::mutex mutex;
  std::condition_variable told;
  std::optional<uint32_t> value;
  ExplainedError error;
  bool ok = false;
  bool done = false;
};

void Write(const HttpSettings& settings, const std::vector<std::string>& basics,
           const ApiWrite& write, const httplib::Request& request, httplib::Response& response) {
  if (!settings.writes)
    return Refuse(response, 403,
                  "writes are off: the plant file turns them on with \"http\": {\"writes\": true}");
  if (request.has_header("Origin") &&
      !SameOrigin(request.get_header_value("Origin"), request.get_header_value("Host")))
    return Refuse(
        response, 403,
        fmt::format("a write from the page of {} is refused: this gateway is {}",
                    request.get_header_value("Origin"), request.get_header_value("Host")));
  // Without credentials only a gateway on loopback takes writes (see
  // WriteSafetyProblem), and only as a name of this machine.
  if (settings.token.empty() && basics.empty() && !LoopbackHost(request.get_header_value("Host")))
    return Refuse(response, 403,
                  fmt::format("a write without a token is taken only when sent to 127.0.0.1 or "
                              "localhost, not to {}",
                              request.get_header_value("Host")));
  if (!Authorized(settings, basics, request)) {
    const bool token = !settings.token.empty();
    const bool users = !basics.empty();
    // A browser asks its user for a name and password when told Basic.
    response.set_header("WWW-Authenticate", users
                                                ? "Basic realm=\"tarvo-gateway\", charset=\"UTF-8\""
                                                : "Bearer realm=\"tarvo-gateway\"");
    return Refuse(response, 401,
                  fmt::format("a write needs {}{}{}",
                              token ? "this gateway's token (Authorization: Bearer TOKEN)" : "",
                              token && users ? " or " : "",
                              users ? "a user and password of this gateway" : ""));
  }
  const std::string type = request.get_header_value("Content-Type");
  if (type != "application/json" && !type.starts_with("application/json;"))
    return Refuse(response, 415, "a write is sent as Content-Type: application/json");

  const Json body = Json::parse(request.body, nullptr, false);
  if (!body.is_object())
    return Refuse(response, 400,
                  "the body is not a JSON object {\"item\": \"LINE/ITEM\", \"value\": 0 or 1}");
  for (const auto& [key, unused] : body.items())
    if (key != "item" && key != "value" && key != "id")
      return Refuse(response, 400,
                    fmt::format("a write has \"item\", \"value\" and \"id\", not \"{}\"", key));
  const auto item = body.find("item");
  if (item == body.end() || !item->is_string())
    return Refuse(response, 400, "a write names its \"item\": \"LINE/ITEM\"");
  if (!body.contains("value")) return Refuse(response, 400, "a write has no \"value\"");
  std::string id;
  if (const auto given = body.find("id"); given != body.end()) {
    if (!given->is_string() || given->get<std::string>().size() > kLongestId)
      return Refuse(response, 400,
                    fmt::format("the \"id\" is a text of at most {} bytes", kLongestId));
    id = given->get<std::string>();
  } else {
    static std::atomic<unsigned long> made = 0;
    id = fmt::format("http-{}", ++made);
  }
  // Read as a set topic reads it, so that both take the same values.
  const std::string payload = JsonText(Json{{"value", body["value"]}, {"id", id}});
  if (const WriteRequest parsed = ParseWritePayload(payload); !parsed.value)
    return Refuse(response, 400, parsed.refusal.text);

  const std::string path = item->get<std::string>();
  const auto outcome = std::make_shared<Outcome>();
  WriteReply reply;
  reply.id = JsonText(Json(id));
  reply.answered = [outcome](std::optional<uint32_t> value, const ExplainedError& error, bool ok) {
    const std::lock_guard lock(outcome->mutex);
    outcome->value = value;
    outcome->error = error;
    outcome->ok = ok;
    outcome->done = true;
    outcome->told.notify_all();
  };
  if (!write(path, payload, reply))
    return Refuse(response, 404, fmt::format("no item {}", JsonText(Json(path))));
  std::unique_lock lock(outcome->mutex);
  if (!outcome->told.wait_for(lock, kWriteWait, [&] { return outcome->done; }))
    return Answer(response, 202, JsonText(Json{{"id", id}, {"item", path}, {"state", "pending"}}));
  // Refused before the line saw it (nothing written: no value) is the
  // item's fault; refused by a line that is down, the gateway's.
  const int code = outcome->ok                            ? 200
                   : !outcome->value                      ? 409
                   : outcome->error.text == "(line down)" ? 503
                                                          : 200;
  Answer(response, code, WriteOutcomeText(path, reply.id, outcome->error, outcome->ok));
}

}  // namespace

std::optional<std::string> WriteSafetyProblem(const HttpSettings& settings) {
  if (!settings.writes || Loopback(settings.address) || !settings.token.empty() ||
      !settings.users.empty())
    return std::nullopt;
  return fmt::format(
      "HTTP on {}: writes over the network need a token or users (\"http\": {{\"token_file\": "
      "PATH}} or {{\"users_file\": PATH}}), or an address of this machine only (127.0.0.1)",
      settings.address);
}

void AddApiRoutes(httplib::Server& server, const PlantStatus& status, const HttpSettings& settings,
                  const ApiWrite& write) {
  server.Get("/api/plant",
             [&status, settings](const httplib::Request&, httplib::Response& response) {
               Json plant = status.Plant();
               plant["gateway"]["writes"] = settings.writes;
               plant["gateway"]["auth"] = AuthOf(settings);
               Answer(response, 200, JsonText(plant));
             });

  server.Get("/api/events", [&status](const httplib::Request&, httplib::Response& response) {
    EventHub& events = status.events();
    uint64_t seq = 0;
    const std::shared_ptr<EventHub::Reader> reader = events.Join(&seq);
    if (!reader)
      return Refuse(response, 503,
                    fmt::format("{} event streams are open already", EventHub::kMostReaders));
    response.set_header("Cache-Control", "no-cache");
    response.set_chunked_content_provider(
        "text/event-stream",
        [&events, reader, hello = fmt::format("event: hello\ndata: {{\"seq\": {}}}\n\n", seq),
         quiet = std::chrono::seconds(0)](size_t, httplib::DataSink& sink) mutable {
          if (!hello.empty()) {
            const bool written = sink.write(hello.data(), hello.size());
            hello.clear();
            return written;
          }
          const std::optional<std::string> next = events.Next(*reader, kReaderCheck);
          if (!next) {
            sink.done();
            return true;
          }
          if (!next->empty()) {
            quiet = {};
            return sink.write(next->data(), next->size());
          }
          // A reader gone frees its place within kReaderCheck.
          if (!sink.is_writable()) return false;
          if ((quiet += kReaderCheck) < kKeepAlive) return true;
          quiet = {};
          const std::string_view comment = ": keep-alive\n\n";
          return sink.write(comment.data(), comment.size());
        },
        [&events, reader](bool) { events.Leave(reader); });
  });

  std::vector<std::string> basics;
  for (const auto& [name, password] : settings.users)
    basics.push_back(Base64(name + ":" + password));
  server.Post("/api/write", [settings, basics, write](const httplib::Request& request,
                                                      httplib::Response& response) {
    Write(settings, basics, write, request, response);
  });
}

}  // namespace tarvo::tools
