// tarvo-gateway: a plant's pxr modules published to an MQTT broker and as
// Prometheus metrics. Reads the plant file, loads the library as a host
// does, polls each line on a thread of its own, and runs until SIGTERM or
// Ctrl-C, reading the plant file again on SIGHUP; see --help.
#include <fmt/format.h>
#include <signal.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "tools/common/driver_library.h"
#include "tools/common/json_text.h"
#include "tools/gateway/gateway_log.h"
#include "tools/gateway/gateway_options.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/http_endpoint.h"
#include "tools/gateway/line_worker.h"
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

// --once: every line polled once, side by side; the messages printed, the
// answers to the plant file's writes made last.
int PollOnce(std::vector<std::unique_ptr<LineWorker>>& workers, const PlantStatus& status) {
  std::vector<std::thread> threads;
  std::vector<char> ok(workers.size(), 0);
  for (size_t i = 0; i < workers.size(); ++i)
    threads.emplace_back([&, i] { ok[i] = workers[i]->PollOnce() ? 1 : 0; });
  for (std::thread& thread : threads) thread.join();
  std::vector<Message> printed = status.Retained();
  for (const auto& worker : workers)
    printed.insert(printed.end(), worker->plantWrites().begin(), worker->plantWrites().end());
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  for (const Message& message : printed)
    messages.push_back({{"topic", message.topic},
                        {"retain", message.retain},
                        {"payload", nlohmann::ordered_json::parse(message.payload)}});
  std::cout << JsonText(messages, 2) << "\n";
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
    plant = ReadGatewayPlantFile(o.plant);
  } catch (const std::runtime_error& e) {
    Log(e.what());
    return kUsageError;
  }
  if (!ApplyOptions(o, &plant, &problem)) {
    Log(problem);
    return kUsageError;
  }
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
  // One publisher at a time: the last messages published again after a
  // reconnection go out before a newer one of the same item.
  std::mutex publisher;
  auto publish = [&link, &publisher](const Message& message) {
    const std::lock_guard lock(publisher);
    if (link) link->Publish(message.topic, message.payload, message.retain);
  };
  // A check switches no output unasked.
  if (o.once && !o.plantWrites)
    for (GatewayLine& line : plant.lines)
      if (const std::string note = LeaveWritesUnmade(&line.options.groups); !note.empty())
        Log(fmt::format("line {}: {}", line.name, note));
  std::vector<std::unique_ptr<LineWorker>> workers;
  const std::vector<int32_t> mapped = MappedPorts(plant.lines);
  for (size_t i = 0; i < plant.lines.size(); ++i) {
    workers.push_back(std::make_unique<LineWorker>(library, plant.lines[i], mapped[i], status,
                                                   plant.mqtt.prefix, publish, o.verbose));
    if (!workers.back()->Prepare(path)) return kUsageError;
  }
  if (o.once) return PollOnce(workers, status);

  // The workers change only on a reload, under this lock.
  std::mutex workersMutex;
  PlantReload reload(o, library, path, status, publish, o.verbose, plant, mapped, workers,
                     workersMutex);
  SetRouter router(workers);
  HttpEndpoint http(status);
  if (plant.http.enabled) {
    if (!http.Start(plant.http, &problem)) {
      Log(problem);
      return kUsageError;
    }
    Log(fmt::format("metrics on http://{}:{}/metrics", plant.http.address, http.port()));
  }
  if (publishing) {
    std::vector<std::string> setTopics;
    for (const auto& worker : workers)
      for (std::string& topic : worker->SetTopics()) setTopics.push_back(std::move(topic));
    auto onMessage = [&router, &workersMutex](const std::string& topic, std::string_view payload,
                                              bool retained) {
      const std::lock_guard lock(workersMutex);
      router.Handle(topic, payload, retained);
    };
    auto onState = [&status, &link, &publisher](bool connected) {
      status.BrokerConnected(connected);
      if (!connected) return;
      // What the broker missed while away.
      const std::lock_guard lock(publisher);
      for (const Message& message : status.Retained())
        link->Publish(message.topic, message.payload, message.retain);
    };
    link = std::make_unique<MqttLink>(plant.mqtt, SetSubscriptions(plant.mqtt.prefix, setTopics),
                                      onMessage, onState);
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
    if (const auto setTopics = reload.Reload(); setTopics && link)
      link->Resubscribe(SetSubscriptions(plant.mqtt.prefix, *setTopics));
  }
  Log(fmt::format("{}: stopping after the calls in progress", strsignal(signal)));
  for (const auto& worker : workers) worker->Stop();  // each closes its line
  if (link) link->Stop();                             // "offline"
  http.Stop();
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
