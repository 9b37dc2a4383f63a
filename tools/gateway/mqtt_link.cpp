#include "tools/gateway/mqtt_link.h"

#include <fmt/format.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "tools/common/utf8_text.h"
#include "tools/gateway/gateway_log.h"

namespace tarvo::tools {
namespace {

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";
constexpr std::chrono::seconds kLongestRetry{30};
// A connection lost within this time of being made is a short one; so
// many in a row and the log names the likely cause.
constexpr std::chrono::seconds kShortConnection{10};
constexpr int kShortConnectionsHinted = 3;
constexpr std::chrono::seconds kLastMessages{2};
// Messages published but not yet acknowledged, at most, before a publisher
// waits; it goes on when half of them are (not woken for every one).
constexpr size_t kUnacknowledgedAtMost = 1000;
constexpr size_t kRoomAgain = kUnacknowledgedAtMost / 2;
constexpr std::chrono::seconds kStalled{1};

void InitialiseOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttLink::MqttLink(MqttSettings settings, std::vector<std::string> subscriptions,
                   MessageHandler onMessage, StateHandler onState)
    : settings_(std::move(settings)),
      subscriptions_(std::move(subscriptions)),
      onMessage_(std::move(onMessage)),
      onState_(std::move(onState)) {}

std::string MqttLink::statusTopic() const {
  std::string id = settings_.clientId;
  for (char& c : id)
    if (c == '/' || c == '+' || c == '#') c = '_';  // one topic level, no wildcard
  return settings_.prefix + "/gateway/" + id + "/status";
}

MqttLink::~MqttLink() {
  Stop();
  if (client_ != nullptr) mosquitto_destroy(client_);
}

bool MqttLink::Start(std::string* error) {
  InitialiseOnce();
  client_ = mosquitto_new(settings_.clientId.c_str(), true, this);
  if (client_ == nullptr) {
    *error = "cannot make an MQTT client";
    return false;
  }
  auto failed = [&](int rc, const char* what) {
    if (rc == MOSQ_ERR_SUCCESS) return false;
    *error = fmt::format("{}: {}", what, mosquitto_strerror(rc));
    return true;
  };
  const std::string status = statusTopic();
  if (failed(mosquitto_will_set(client_, status.c_str(), sizeof kOffline - 1, kOffline,
                                settings_.qos, true),
             "the last will"))
    return false;
  if (!settings_.username.empty() &&
      failed(mosquitto_username_pw_set(
                 client_, settings_.username.c_str(),
                 settings_.password.empty() ? nullptr : settings_.password.c_str()),
             "the user name"))
    return false;
  if (!settings_.caFile.empty()) {
    if (failed(mosquitto_tls_set(client_, settings_.caFile.c_str(), nullptr,
                                 settings_.certFile.empty() ? nullptr : settings_.certFile.c_str(),
                                 settings_.keyFile.empty() ? nullptr : settings_.keyFile.c_str(),
                                 nullptr),
               "TLS"))
      return false;
    if (failed(mosquitto_tls_insecure_set(client_, settings_.tlsInsecure), "TLS")) return false;
  }
  mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  mosquitto_connect_callback_set(client_, &MqttLink::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttLink::OnDisconnect);
  mosquitto_message_v5_callback_set(client_, &MqttLink::OnMessage);
  mosquitto_publish_callback_set(client_, &MqttLink::OnPublish);
  mosquitto_reconnect_delay_set(client_, 1, static_cast<unsigned>(kLongestRetry.count()), true);
  Log(fmt::format("MQTT: connecting to {}:{} as \"{}\"", settings_.host, settings_.port,
                  settings_.clientId));
  started_ = true;
  worker_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (true) {
      workAsked_.wait(lock, [&] { return stopping_ || !work_.empty(); });
      if (stopping_) return;
      const std::function<void()> work = std::move(work_.front());
      work_.pop_front();
      lock.unlock();
      work();
      lock.lock();
    }
  });
  connector_ = std::thread([this] { Connect(); });
  return true;
}

void MqttLink::Soon(std::function<void()> work) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    work_.push_back(std::move(work));
  }
  workAsked_.notify_one();
}

void MqttLink::Connect() {
  // libmosquitto's thread reconnects a connection once made; a broker not
  // there yet (or a name not resolved yet, at boot) is tried here.
  std::chrono::seconds wait(1);
  std::string lastProblem;
  for (bool first = true;; first = false) {
    const int rc = first ? mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port,
                                                   settings_.keepaliveSeconds)
                         : mosquitto_reconnect_async(client_);
    std::unique_lock lock(mutex_);
    if (stopping_) return;
    if (rc == MOSQ_ERR_SUCCESS) {
      looping_ = mosquitto_loop_start(client_) == MOSQ_ERR_SUCCESS;
      if (!looping_) Log("MQTT: cannot start the network thread");
      return;
    }
    const std::string problem =
        rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
    if (problem != lastProblem)
      Log(fmt::format("MQTT: {}:{}: {}; trying again, every {} s at the longest", settings_.host,
                      settings_.port, problem, kLongestRetry.count()));
    lastProblem = problem;
    stop_.wait_for(lock, wait, [&] { return stopping_; });
    if (stopping_) return;
    wait = std::min(wait * 2, kLongestRetry);
  }
}

void MqttLink::Publish(const std::string& topic, const std::string& payload, bool retain,
                       const std::string& correlation) {
  if (retain && !announced_) return;
  Send(topic, payload, retain, correlation);
}

void MqttLink::PublishAgain(const std::string& topic, const std::string& payload) {
  Send(topic, payload, true, {});
}

uint64_t MqttLink::connection() const {
  const std::lock_guard lock(mutex_);
  return connections_;
}

void MqttLink::Announced(uint64_t connection) {
  const std::lock_guard lock(mutex_);
  if (connection == connections_) announced_ = true;
}

void MqttLink::Send(const std::string& topic, const std::string& payload, bool retain,
                    const std::string& correlation) {
  if (!connected_) return;
  mosquitto_property* properties = nullptr;
  if (!correlation.empty())
    mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                  static_cast<uint16_t>(correlation.size()));
  int id = 0;
  int rc = mosquitto_publish_v5(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), settings_.qos, retain, properties);
  // (A 3.1.1 connection takes no properties: it is sent without them.)
  if (rc == MOSQ_ERR_NOT_SUPPORTED)
    rc = mosquitto_publish(client_, &id, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), settings_.qos, retain);
  mosquitto_property_free_all(&properties);
  if (rc != MOSQ_ERR_SUCCESS || settings_.qos == 0) return;
  std::unique_lock lock(mutex_);
  unacknowledged_.insert(id);
  if (unacknowledged_.size() < waitAt_ || std::this_thread::get_id() == callbackThread_) return;
  // A broker that acknowledges nothing for a second (or whose
  // acknowledgements wait behind what it sends the gateway) is waited for
  // again only when twice as many messages wait.
  if (!acknowledged_.wait_for(lock, kStalled,
                              [&] { return unacknowledged_.size() < kRoomAgain || !connected_; }))
    waitAt_ = unacknowledged_.size() * 2;
}

void MqttLink::OnPublish(mosquitto*, void* context, int id) {
  auto* self = static_cast<MqttLink*>(context);
  const std::lock_guard lock(self->mutex_);
  self->unacknowledged_.erase(id);
  if (self->unacknowledged_.size() >= kRoomAgain) return;
  self->waitAt_ = kUnacknowledgedAtMost;
  self->acknowledged_.notify_all();
}

void MqttLink::Stop() {
  if (!started_) return;
  started_ = false;
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stop_.notify_all();
  workAsked_.notify_all();
  worker_.join();
  connector_.join();
  if (!looping_) return;
  if (connected_) {
    PublishAgain(statusTopic(), kOffline);
    // The last messages (the lines' and the gateway's "offline") reach the
    // broker before the connection ends.
    std::unique_lock lock(mutex_);
    acknowledged_.wait_for(lock, kLastMessages, [&] { return unacknowledged_.empty(); });
  }
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  connected_ = false;
}

void MqttLink::OnConnect(mosquitto* client, void* context, int rc) {
  auto* self = static_cast<MqttLink*>(context);
  if (rc == CONNACK_REFUSED_PROTOCOL_VERSION || rc == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION) {
    // A broker older than MQTT v5: the next try speaks 3.1.1.
    Log("MQTT: the broker does not speak MQTT v5; using 3.1.1 (no response topics)");
    mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    return;
  }
  if (rc != 0) {
    Log(fmt::format("MQTT: the broker refused the connection: {}", mosquitto_connack_string(rc)));
    return;
  }
  Log(fmt::format("MQTT: connected to {}:{}", self->settings_.host, self->settings_.port));
  {
    const std::lock_guard lock(self->subscribed_);
    for (const std::string& topic : self->subscriptions_)
      mosquitto_subscribe(client, nullptr, topic.c_str(), self->settings_.qos);
  }
  const std::string status = self->statusTopic();
  mosquitto_publish(client, nullptr, status.c_str(), sizeof kOnline - 1, kOnline,
                    self->settings_.qos, true);
  {
    // A new session: what the last one did not acknowledge is not waited for.
    const std::lock_guard lock(self->mutex_);
    self->unacknowledged_.clear();
    self->waitAt_ = kUnacknowledgedAtMost;
    self->callbackThread_ = std::this_thread::get_id();
    ++self->connections_;
    self->announced_ = false;
  }
  self->connected_ = true;
  self->connectedAt_ = std::chrono::steady_clock::now();
  self->Soon([self] { self->onState_(true); });
}

void MqttLink::Resubscribe(std::vector<std::string> subscriptions) {
  // Not connected, the calls fail harmlessly: the connection subscribes.
  const std::lock_guard lock(subscribed_);
  for (const std::string& topic : subscriptions_)
    if (std::find(subscriptions.begin(), subscriptions.end(), topic) == subscriptions.end())
      mosquitto_unsubscribe(client_, nullptr, topic.c_str());
  for (const std::string& topic : subscriptions)
    if (std::find(subscriptions_.begin(), subscriptions_.end(), topic) == subscriptions_.end())
      mosquitto_subscribe(client_, nullptr, topic.c_str(), settings_.qos);
  subscriptions_ = std::move(subscriptions);
}

void MqttLink::OnDisconnect(mosquitto*, void* context, int rc) {
  auto* self = static_cast<MqttLink*>(context);
  {
    // A publisher waiting for room waits no longer.
    const std::lock_guard lock(self->mutex_);
    self->connected_ = false;
  }
  self->acknowledged_.notify_all();
  self->Soon([self] { self->onState_(false); });
  if (rc == 0) return;
  Log(fmt::format("MQTT: lost the broker at {}:{} ({}); reconnecting", self->settings_.host,
                  self->settings_.port, mosquitto_strerror(rc)));
  const bool wasShort = std::chrono::steady_clock::now() - self->connectedAt_ < kShortConnection;
  self->shortConnections_ = wasShort ? self->shortConnections_ + 1 : 0;
  if (self->shortConnections_ == kShortConnectionsHinted)
    Log(
        fmt::format("MQTT: the connection was lost {} times within {} s of being made: another "
                    "client with the id \"{}\" keeps taking the connection? Give each gateway "
                    "its own (--client-id, \"client_id\")",
                    kShortConnectionsHinted, kShortConnection.count(), self->settings_.clientId));
}

void MqttLink::OnMessage(mosquitto*, void* context, const mosquitto_message* message,
                         const mosquitto_property* properties) {
  auto* self = static_cast<MqttLink*>(context);
  std::string_view payload;
  if (message->payload != nullptr && message->payloadlen > 0)
    payload = {static_cast<const char*>(message->payload),
               static_cast<size_t>(message->payloadlen)};
  WriteReply reply;
  char* responseTopic = nullptr;
  if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false) !=
      nullptr) {
    reply.responseTopic = responseTopic;
    std::free(responseTopic);
  }
  void* correlation = nullptr;
  uint16_t length = 0;
  if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length,
                                     false) != nullptr) {
    reply.correlation.assign(static_cast<const char*>(correlation), length);
    std::free(correlation);
  }
  // An exception must not reach libmosquitto's C thread, where it would
  // end the process.
  try {
    self->onMessage_(message->topic, payload, message->retain, reply);
  } catch (const std::exception& e) {
    LogLimited("MQTT: dropped", fmt::format("MQTT: a message on {} was dropped: {}",
                                            QuoteBytes(message->topic, 200), e.what()));
  }
}

}  // namespace tarvo::tools
