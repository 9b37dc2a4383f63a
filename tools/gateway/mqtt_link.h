// tarvo-gateway's link to the MQTT broker (libmosquitto): connects in the
// background and reconnects by itself with back-off; its status topic says
// "online" while it is connected and "offline" after it (the broker's last
// will when the gateway dies). On each connection it subscribes to the
// write topics and hands the caller the chance to publish its retained
// messages again. A connection lost again and again soon after it was made
// is most likely taken by another client with the same id: the log says so.
// It speaks MQTT v5, so that a writer's response topic and correlation data
// reach the write's answer, and 3.1.1 to a broker that refuses v5.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/write_payload.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

namespace tarvo::tools {

class MqttLink {
 public:
  // A message arrived on one of the subscribed topics (libmosquitto's thread).
  // Any bytes of any length: the payload is the sender's. `retained`: the
  // broker kept it and replays it on subscribing. `reply`: the sender's
  // response topic and correlation data (MQTT v5), if any.
  using MessageHandler = std::function<void(const std::string& topic, std::string_view payload,
                                            bool retained, const WriteReply& reply)>;
  // The link is up (true) or lost (false) (the link's own thread, see Soon).
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
  // A retained message is dropped too on a connection the caller has not
  // yet said Announced for: what it publishes again then is the latest,
  // and a subscriber hears no newer message before it.
  // `correlation`: the MQTT v5 correlation data to send with it. At QoS 1
  // and 2, a caller other than libmosquitto's thread waits while a
  // thousand messages wait for the broker's acknowledgement (until half
  // of them are), so that the messages of a large plant published at once
  // (a connection's) do not all wait in memory. It waits a second at the
  // most, and then again only when twice as many wait, until the broker
  // catches up: a broker that acknowledges nothing holds up no publisher
  // for long.
  void Publish(const std::string& topic, const std::string& payload, bool retain,
               const std::string& correlation = {});
  // A retained message published again after a connection, before
  // Announced (or the last ones, at the end).
  void PublishAgain(const std::string& topic, const std::string& payload);
  // The connection made last (counted from 1), and the caller has
  // published again what a subscriber must hear first on it: from now on
  // Publish sends retained messages too. Said of a connection since
  // replaced, it changes nothing.
  uint64_t connection() const;
  void Announced(uint64_t connection);
  // Runs `work` on the link's own thread, after the work asked for before
  // (until Stop). What a connection asks for (thousands of messages
  // published again) runs there, not on libmosquitto's thread: that
  // thread sends them and takes the broker's acknowledgements meanwhile,
  // where in its callback they would all wait in its queue.
  void Soon(std::function<void()> work);
  // The write topics from now on (a reloaded plant's), subscribed to at
  // once where they are new.
  void Resubscribe(std::vector<std::string> subscriptions);
  // Publishes "offline" on the status topic and disconnects, once the
  // broker has the messages published (2 s at the longest).
  void Stop();

  // PREFIX/gateway/ID/status, ID the client id: a gateway's own, which
  // another gateway on the broker does not overwrite.
  std::string statusTopic() const;

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int id);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message,
                        const mosquitto_property* properties);
  // Tries the first connection until it is made (then libmosquitto's own
  // thread keeps it) or Stop.
  void Connect();
  void Send(const std::string& topic, const std::string& payload, bool retain,
            const std::string& correlation);

  MqttSettings settings_;
  std::mutex subscribed_;  // guards subscriptions_
  std::vector<std::string> subscriptions_;
  MessageHandler onMessage_;
  StateHandler onState_;
  mosquitto* client_ = nullptr;
  bool started_ = false;
  std::atomic<bool> connected_{false};
  // On libmosquitto's thread: when the connection was made, and how many
  // in a row were lost soon after.
  std::chrono::steady_clock::time_point connectedAt_;
  int shortConnections_ = 0;
  std::thread connector_;
  mutable std::mutex mutex_;  // guards what follows
  std::condition_variable stop_;
  bool stopping_ = false;
  bool looping_ = false;          // libmosquitto's thread runs
  std::set<int> unacknowledged_;  // the ids of the messages the broker has not acknowledged
  std::condition_variable acknowledged_;
  size_t waitAt_ = 0;               // a publisher waits while this many wait for acknowledgement
  std::thread::id callbackThread_;  // libmosquitto's, which must not wait for itself
  uint64_t connections_ = 0;
  std::atomic<bool> announced_{false};  // the retained messages of this connection go out
  std::thread worker_;                  // runs the work of Soon
  std::condition_variable workAsked_;
  std::deque<std::function<void()>> work_;  // guarded by mutex_
};

}  // namespace tarvo::tools
