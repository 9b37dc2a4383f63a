// tarvo-gateway: a plant's pxr modules published to an MQTT broker, as
// Prometheus metrics and over Modbus TCP. Reads the plant file, loads the library as a host
// does, polls each line on a thread of its own, and runs until SIGTERM or
// Ctrl-C, reading the plant file again on SIGHUP; see --help.
#include <fmt/format.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <thread>

#include "tools/common/driver_library.h"
#include "tools/common/json_text.h"
#include "tools/gateway/discovery.h"
#include "tools/gateway/gateway_log.h"
#include "tools/gateway/gateway_options.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/http_endpoint.h"
#include "tools/gateway/line_worker.h"
#include "tools/gateway/modbus_server.h"
#include "tools/gateway/mqtt_link.h"
#include "tools/gateway/plant_reload.h"
#include "tools/gateway/plant_status.h"
#include "tools/gateway/set_router.h"
#include "tools/plant/line_options.h"
#include "tools/plant/plant_file.h"

#ifndef TARVO_DEFAULT_LIBRARY
#define TARVO_DEFAULT_LIBRARY "libtarvo.so"
#endif

namespace tarvo::tools {
namespace {

constexpr int kUsageError = 2;
constexpr int kModbusUnavailable = 1;

// --once: every line polled once, side by side; the messages printed, the
// answers to the plant file's writes made last.
int PollOnce(std::vector<std::unique_ptr<LineWorker>>& workers, const PlantStatus& status) {
  std::vector<std::thread> threads;
  std::vector<char> ok(workers.size(), 0);
  for (size_t i = 0; i < workers.size(); ++i)
    threads.emplace_back([&, i] { ok[i] = workers[i]->PollOnce() ? 1 : 0; });
  for (std::thread& thread : threads) thread.join();
  // A JSON array indented by 2, written a message at a time: a full line's
  // messages are not held as one document. The items' payloads come
  // indented as they stand in it; the plant writes' answers are indented here.
  bool first = true;
  std::string text;
  auto print = [&](const Message& message, const std::string& payload) {
    text = first ? "[\n  {\n    \"topic\": " : ",\n  {\n    \"topic\": ";
    text += JsonText(nlohmann::ordered_json(message.topic));
    text += message.retain ? ",\n    \"retain\": true,\n    \"payload\": "
                           : ",\n    \"retain\": false,\n    \"payload\": ";
    text += payload;
    text += "\n  }";
    std::cout << text;
    first = false;
  };
  status.Retained([&](const Message& message) { print(message, message.payload); }, 2);
  for (const auto& worker : workers) {
    for (const Message& message : worker->plantWrites()) {
      std::string payload;
      for (const char c : JsonText(nlohmann::ordered_json::parse(message.payload), 2)) {
        payload += c;
        if (c == '\n') payload += "    ";
      }
      print(message, payload);
    }
  }
  std::cout << (first ? "[]\n" : "\n]\n");
  return std::find(ok.begin(), ok.end(), 0) == ok.end() ? 0 : 1;
}

// Waits for SIGTERM, SIGINT or SIGHUP, blocked in every thread (they
// inherit the mask from this one); meanwhile says every second what the
// rate-limited log held back.
int AwaitSignal(const sigset_t& stops) {
  const timespec second{1, 0};
  while (true) {
    const int signal = sigtimedwait(&stops, nullptr, &second);
    if (signal > 0) return signal;
    FlushLimitedLog();
  }
}

int Run(const GatewayOptions& o) {
  GatewayPlant plant;
  std::string problem;
  try {
    plant = ReadGatewayPlantFile(o.plant, o.modbus || o.modbusMap);
  } catch (const std::runtime_error& e) {
    Log(e.what());
    return kUsageError;
  }
  if (!ApplyOptions(o, &plant, &problem)) {
    Log(problem);
    return kUsageError;
  }
  if (o.modbusMap) {
    std::cout << ModbusMapCsv(plant.modbus);
    return 0;
  }
  // Without Modbus its map of the items is not kept.
  if (!plant.modbus.enabled) plant.modbus.units = {};
  const std::string path = ChooseLibraryPath(o.library, TARVO_DEFAULT_LIBRARY);
  DriverLibrary library(path);
  if (!library.ok()) {
    Log(fmt::format("cannot use the library {}: {}", path, library.error()));
    return kUsageError;
  }
  CountExchanges(library);

  // The signals are blocked before any thread starts, so that only
  // AwaitStop takes them.
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGHUP);
  if (!o.once) pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  signal(SIGPIPE, SIG_IGN);

  PlantStatus status;
  std::unique_ptr<MqttLink> link;
  const bool publishing = !o.once && !plant.mqtt.host.empty();
  // One publisher of retained messages at a time: the last messages
  // published again after a reconnection go out before a newer one of the
  // same item. The others (a write's answer, from libmosquitto's thread too)
  // are not published again and do not wait for them.
  std::mutex publisher;
  auto publish = [&link, &publisher](const Message& message) {
    std::unique_lock lock(publisher, std::defer_lock);
    if (message.retain) lock.lock();
    if (link) link->Publish(message.topic, message.payload, message.retain, message.correlation);
  };
  // A check switches no output unasked; it checks the writes all the same.
  const bool makePlantWrites = !o.once || o.plantWrites;
  std::vector<std::unique_ptr<LineWorker>> workers;
  const std::vector<int32_t> mapped = MappedPorts(plant.lines);
  std::vector<std::string> notes;
  if (!makePlantWrites)
    for (const GatewayLine& line : plant.lines)
      if (const std::string note = UnmadeWritesNote(line.options.groups); !note.empty())
        notes.push_back(fmt::format("line {}: {}", line.name, note));
  // The workers take the lines' items; a reload compares a text of them.
  std::vector<RunningLine> running;
  std::vector<size_t> statusFirst;  // each line's first item in the status
  for (size_t i = 0; i < plant.lines.size(); ++i) {
    if (!o.once) running.push_back(Running(plant.lines[i]));
    statusFirst.push_back(status.items());
    workers.push_back(std::make_unique<LineWorker>(library, std::move(plant.lines[i]), mapped[i],
                                                   status, plant.mqtt.prefix, publish, o.verbose));
    if (!workers.back()->Prepare(path, makePlantWrites)) return kUsageError;
  }
  plant.lines = {};
  for (const std::string& note : notes) Log(note);
  if (o.once) return PollOnce(workers, status);

  // The workers change only on a reload, under this lock.
  std::mutex workersMutex;
  PlantReload reload(o, library, path, status, publish, o.verbose, plant, std::move(running),
                     mapped, workers, workersMutex);
  SetRouter router(workers);
  // Filled once the broker link says its status topic, before it starts.
  std::shared_ptr<Discovery> discovery;
  // A write over HTTP is a message on the item's set topic.
  HttpEndpoint http(
      status, [&](const std::string& item, std::string_view payload, const WriteReply& reply) {
        const std::lock_guard lock(workersMutex);
        const std::string topic = plant.mqtt.prefix + "/" + item + "/set";
        for (const auto& worker : workers)
          if (worker && worker->HandleSet(topic, payload, reply)) return true;
        return false;
      });
  if (plant.http.enabled && !http.Start(plant.http, &problem)) {
    Log(problem);
    return kUsageError;
  }
  ModbusServer modbus(
      plant.modbus, status, statusFirst,
      [&workers](size_t line, size_t item, uint32_t value) { workers[line]->Write(item, value); });
  if (plant.modbus.enabled) {
    if (!modbus.Start(&problem)) {
      // Not a usage error: a port another program holds now may be free
      // when the service manager starts the gateway again.
      Log(problem);
      return kModbusUnavailable;
    }
    Log(fmt::format("Modbus TCP on {}:{}", plant.modbus.address, modbus.port()));
  }
  std::function<void()> announce;
  if (publishing) {
    std::vector<std::string> setTopics;
    for (const auto& worker : workers)
      for (std::string& topic : worker->SetTopics()) setTopics.push_back(std::move(topic));
    std::vector<std::string> subscriptions = SetSubscriptions(plant.mqtt.prefix, setTopics);
    if (plant.discovery.enabled)
      for (std::string& topic : Discovery::Subscriptions(plant.discovery, plant.mqtt))
        subscriptions.push_back(std::move(topic));
    // What the broker (or Home Assistant) missed while away: the configs,
    // the lines' status, the items' messages. Until the lines' status is
    // out, the link drops the lines' own retained messages on the new
    // connection: no item is heard before its line, and the items'
    // messages published again, after, are the latest. Publishing waits
    // for the broker's acknowledgements, which libmosquitto's thread
    // takes: the workers' lock, which that thread needs to hear a message,
    // is held only to take the configs and the lines' status. The
    // publisher's lock, which the lines need to publish, is held for the
    // lines' status and for each thousand items', not for the configs (no
    // line publishes them).
    announce = [&link, &publisher, &discovery, &workers, &workersMutex, &status] {
      const uint64_t connection = link->connection();
      auto publish = [&link](const Message& m) { link->PublishAgain(m.topic, m.payload); };
      std::unique_lock workersLock(workersMutex);
      const std::shared_ptr<const Discovery> configs = discovery;
      workersLock.unlock();
      if (configs) configs->Configs(publish);
      {
        workersLock.lock();
        const std::lock_guard lock(publisher);
        std::vector<Message> lines;
        for (const auto& worker : workers)
          if (worker)  // none while a reload replaces it
            if (const std::optional<Message> m = worker->LineStatus()) lines.push_back(*m);
        workersLock.unlock();
        for (const Message& m : lines) publish(m);
        link->Announced(connection);
      }
      status.Retained(publish, -1, &publisher);
    };
    auto onMessage = [&router, &discovery, &workersMutex, &link, announce, publish](
                         const std::string& topic, std::string_view payload, bool retained,
                         const WriteReply& reply) {
      Discovery::Heard heard;
      {
        // The workers and the discovery change on a reload.
        const std::lock_guard lock(workersMutex);
        if (discovery) heard = discovery->Hear(topic, payload);
        if (!heard.mine) return router.Handle(topic, payload, retained, reply);
      }
      if (heard.announce) link->Soon(announce);
      // (Retained: published on the link's thread, which may wait for the broker.)
      if (!heard.clear.empty())
        link->Soon([publish, clear = std::move(heard.clear)] {
          for (const Message& m : clear) publish(m);
        });
    };
    auto onState = [&status, announce](bool connected) {
      status.BrokerConnected(connected);
      if (connected) announce();
    };
    link = std::make_unique<MqttLink>(plant.mqtt, subscriptions, onMessage, onState);
    if (plant.discovery.enabled) {
      discovery = std::make_shared<Discovery>(plant.discovery, plant.mqtt, link->statusTopic());
      for (const auto& worker : workers) worker->Describe(*discovery);
    }
    status.BrokerConnected(false);
    if (!link->Start(&problem)) {
      Log(problem);
      return kUsageError;
    }
  } else {
    Log("no MQTT broker given (--broker or \"mqtt\": {\"host\": ...}): metrics only");
  }
  for (const auto& worker : workers) worker->Start();
  Log(fmt::format("polling {} line{}; SIGHUP reads the plant file again, SIGTERM or Ctrl-C stops",
                  workers.size(), workers.size() == 1 ? "" : "s"));

  int signal = 0;
  while ((signal = AwaitSignal(stops)) == SIGHUP) {
    Log(fmt::format("{}: reading {} again", strsignal(signal), o.plant));
    const auto setTopics = reload.Reload();
    if (!setTopics || !link) continue;
    std::vector<std::string> subscriptions = SetSubscriptions(plant.mqtt.prefix, *setTopics);
    if (discovery) {
      // The new plant's configs; those of items gone cleared.
      std::vector<Message> cleared;
      {
        const std::lock_guard lock(workersMutex);
        std::set<std::string> before;
        discovery->Topics([&](const std::string& topic) { before.insert(topic); });
        discovery = std::make_shared<Discovery>(plant.discovery, plant.mqtt, link->statusTopic());
        for (const auto& worker : workers) worker->Describe(*discovery);
        discovery->Topics([&](const std::string& topic) { before.erase(topic); });
        for (const std::string& topic : before) cleared.push_back({topic, "", true});
      }
      for (const Message& m : cleared) publish(m);
      for (std::string& topic : Discovery::Subscriptions(plant.discovery, plant.mqtt))
        subscriptions.push_back(std::move(topic));
      announce();
    }
    link->Resubscribe(std::move(subscriptions));
  }
  Log(fmt::format("{}: stopping after the calls in progress", strsignal(signal)));
  for (const auto& worker : workers) {
    worker->Stop();  // closes its line
    if (const std::optional<Message> m = worker->LineStatus(); m && link)
      link->PublishAgain(m->topic, m->payload);  // "offline"
  }
  if (link) link->Stop();  // "offline"
  http.Stop();
  modbus.Stop();
  FlushLimitedLog(true);
  Log("stopped");
  return 0;
}

}  // namespace
}  // namespace tarvo::tools

int main(int argc, char** argv) {
  tarvo::tools::GatewayOptions options;
  if (const std::optional<int> exit = tarvo::tools::ParseGatewayCommandLine(argc, argv, &options))
    return *exit;
  return tarvo::tools::Run(options);
}
