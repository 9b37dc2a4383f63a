#include "tools/gateway/mqtt_link.h"

#include <fmt/format.h>
#include <mosquitto.h>

#include <mutex>

#include "tools/gateway/gateway_log.h"

namespace tarvo::tools {
namespace {

constexpr char kOnline[] = "online";
constexpr char kOffline[] = "offline";

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
  mosquitto_connect_callback_set(client_, &MqttLink::OnConnect);
  mosquitto_disconnect_callback_set(client_, &MqttLink::OnDisconnect);
  mosquitto_message_callback_set(client_, &MqttLink::OnMessage);
  mosquitto_reconnect_delay_set(client_, 1, 30, true);
  Log(fmt::format("MQTT: connecting to {}:{} as \"{}\"", settings_.host, settings_.port,
                  settings_.clientId));
  // A broker not there yet is no error: the network thread keeps trying.
  const int rc = mosquitto_connect_async(client_, settings_.host.c_str(), settings_.port,
                                         settings_.keepaliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS)
    Log(fmt::format("MQTT: {}:{}: {}; trying again", settings_.host, settings_.port,
                    mosquitto_strerror(rc)));
  if (failed(mosquitto_loop_start(client_), "the MQTT thread")) return false;
  started_ = true;
  return true;
}

void MqttLink::Publish(const std::string& topic, const std::string& payload, bool retain) {
  if (!connected_) return;
  mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), settings_.qos, retain);
}

void MqttLink::Stop() {
  if (!started_) return;
  started_ = false;
  if (connected_) {
    const std::string status = statusTopic();
    mosquitto_publish(client_, nullptr, status.c_str(), sizeof kOffline - 1, kOffline,
                      settings_.qos, true);
  }
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  connected_ = false;
}

void MqttLink::OnConnect(mosquitto* client, void* context, int rc) {
  auto* self = static_cast<MqttLink*>(context);
  if (rc != 0) {
    Log(fmt::format("MQTT: the broker refused the connection: {}", mosquitto_connack_string(rc)));
    return;
  }
  Log(fmt::format("MQTT: connected to {}:{}", self->settings_.host, self->settings_.port));
  for (const std::string& topic : self->subscriptions_)
    mosquitto_subscribe(client, nullptr, topic.c_str(), self->settings_.qos);
  const std::string status = self->statusTopic();
  mosquitto_publish(client, nullptr, status.c_str(), sizeof kOnline - 1, kOnline,
                    self->settings_.qos, true);
  self->connected_ = true;
  self->onState_(true);
}

void MqttLink::OnDisconnect(mosquitto*, void* context, int rc) {
  auto* self = static_cast<MqttLink*>(context);
  self->connected_ = false;
  self->onState_(false);
  if (rc != 0)
    Log(fmt::format("MQTT: lost the broker at {}:{} ({}); reconnecting", self->settings_.host,
                    self->settings_.port, mosquitto_strerror(rc)));
}

void MqttLink::OnMessage(mosquitto*, void* context, const mosquitto_message* message) {
  auto* self = static_cast<MqttLink*>(context);
  std::string payload;
  if (message->payload != nullptr && message->payloadlen > 0)
    payload.assign(static_cast<const char*>(message->payload),
                   static_cast<size_t>(message->payloadlen));
  self->onMessage_(message->topic, payload);
}

}  // namespace tarvo::tools
