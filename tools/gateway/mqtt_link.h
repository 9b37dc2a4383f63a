// tarvo-gateway's link to the MQTT broker (libmosquitto): connects in the
// background and reconnects by itself with back-off; its status topic says
// "online" while it is connected and "offline" after it (the broker's last
// will when the gateway dies). On each connection it subscribes to the
// write topics and hands the caller the chance to publish its retained
// messages again.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/gateway/gateway_plant.h"

struct mosquitto;
struct mosquitto_message;

namespace tarvo::tools {

class MqttLink {
 public:
  // A message arrived on one of the subscribed topics (libmosquitto's thread).
  // Any bytes of any length: the payload is the sender's. `retained`: the
  // broker kept it and replays it on subscribing.
  using MessageHandler =
      std::function<void(const std::string& topic, std::string_view payload, bool retained)>;
  // The link is up (true) or lost (false) (libmosquitto's thread).
  using StateHandler = std::function<void(bool connected)>;

  MqttLink(MqttSettings settings, std::vector<std::string> subscriptions, MessageHandler onMessage,
           StateHandler onState);
  ~MqttLink();
  MqttLink(const MqttLink&) = delete;
  MqttLink& operator=(const MqttLink&) = delete;

  // Starts connecting in the background. False, with *error, when the
  // settings cannot be used (TLS files, the host name).
  bool Start(std::string* error);
  // Publishes (or drops, while the broker is not connected: the caller
  // publishes its retained messages again on the next connection).
  void Publish(const std::string& topic, const std::string& payload, bool retain);
  // The write topics from now on (a reloaded plant's), subscribed to at
  // once where they are new.
  void Resubscribe(std::vector<std::string> subscriptions);
  // Publishes "offline" on the status topic and disconnects.
  void Stop();

  std::string statusTopic() const { return settings_.prefix + "/status"; }

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  // Tries the first connection until it is made (then libmosquitto's own
  // thread keeps it) or Stop.
  void Connect();

  MqttSettings settings_;
  std::mutex subscribed_;  // guards subscriptions_
  std::vector<std::string> subscriptions_;
  MessageHandler onMessage_;
  StateHandler onState_;
  mosquitto* client_ = nullptr;
  bool started_ = false;
  std::atomic<bool> connected_{false};
  std::thread connector_;
  std::mutex mutex_;  // guards what follows
  std::condition_variable stop_;
  bool stopping_ = false;
  bool looping_ = false;  // libmosquitto's thread runs
};

}  // namespace tarvo::tools
