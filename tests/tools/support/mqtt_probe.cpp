#include "support/mqtt_probe.h"

#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

namespace tarvo::test {

using namespace std::chrono_literals;

int FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    throw std::runtime_error("no free loopback port");
  close(fd);
  return ntohs(address.sin_port);
}

namespace {

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

}  // namespace

Broker::Broker(const TempDir& dir) : port_(FreeLoopbackPort()) {
  config_ = dir.Write("mosquitto.conf", "listener " + std::to_string(port_) +
                                            " 127.0.0.1\nallow_anonymous true\n"
                                            "persistence false\n");
  Start();
}

void Broker::Start() {
  process_.emplace(std::vector<std::string>{"/usr/sbin/mosquitto", "-c", config_});
  for (int i = 0; i < 200 && !Accepts(port_); ++i) std::this_thread::sleep_for(25ms);
}

void Broker::Stop() {
  process_->Signal(SIGTERM);
  process_->Wait(10s);
  process_.reset();
}

MqttProbe::MqttProbe(int port, const std::string& subscription) : subscription_(subscription) {
  mosquitto_lib_init();
  client_ = mosquitto_new(nullptr, true, this);
  mosquitto_connect_callback_set(client_, &MqttProbe::OnConnect);
  mosquitto_message_callback_set(
      client_, [](mosquitto*, void* context, const mosquitto_message* message) {
        auto* self = static_cast<MqttProbe*>(context);
        std::string payload;
        if (message->payloadlen > 0)
          payload.assign(static_cast<const char*>(message->payload),
                         static_cast<size_t>(message->payloadlen));
        {
          const std::lock_guard lock(self->mutex_);
          self->received_.push_back({message->topic, payload, message->retain, Clock::now()});
        }
        self->changed_.notify_all();
      });
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
  mosquitto_connect_async(client_, "127.0.0.1", port, 30);
  mosquitto_loop_start(client_);
}

MqttProbe::~MqttProbe() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, false);
  mosquitto_destroy(client_);
}

void MqttProbe::OnConnect(mosquitto* client, void* context, int rc) {
  if (rc == 0)
    mosquitto_subscribe(client, nullptr, static_cast<MqttProbe*>(context)->subscription_.c_str(),
                        1);
}

void MqttProbe::Publish(const std::string& topic, const std::string& payload, bool retain) {
  mosquitto_publish(client_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                    payload.data(), 1, retain);
}

bool MqttProbe::WaitFor(const std::function<bool(const std::vector<Received>&)>& done,
                        std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return done(received_); });
}

std::optional<std::string> MqttProbe::Last(const std::string& topic,
                                           Clock::time_point since) const {
  const std::lock_guard lock(mutex_);
  for (auto m = received_.rbegin(); m != received_.rend(); ++m)
    if (m->topic == topic && m->at >= since) return m->payload;
  return std::nullopt;
}

std::vector<MqttProbe::Received> MqttProbe::received() const {
  const std::lock_guard lock(mutex_);
  return received_;
}

}  // namespace tarvo::test
