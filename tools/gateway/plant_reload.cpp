#include "tools/gateway/plant_reload.h"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "tools/gateway/gateway_log.h"
#include "tools/plant/line_options.h"

namespace tarvo::tools {
namespace {

const RunningLine* Named(const std::vector<RunningLine>& lines, const std::string& name) {
  const auto line = std::find_if(lines.begin(), lines.end(),
                                 [&](const RunningLine& l) { return l.settings.name == name; });
  return line == lines.end() ? nullptr : &*line;
}

// Each text with its length first: no two lists read the same.
void AppendText(std::string* to, const std::string& text) {
  *to += std::to_string(text.size());
  *to += ':';
  *to += text;
}

// The topics a worker publishes its items on.
std::set<std::string> ItemTopics(const LineWorker& worker) {
  std::set<std::string> topics;
  for (std::string topic : worker.SetTopics()) {
    topic.resize(topic.size() - 4);  // "/set"
    topics.insert(std::move(topic));
  }
  return topics;
}

}  // namespace

std::vector<int32_t> MappedPorts(const std::vector<GatewayLine>& lines, std::set<int32_t> taken) {
  std::string unused;
  for (const GatewayLine& line : lines)
    if (const std::optional<PortChoice> port = ParsePort(line.options.port, &unused);
        port && port->device.empty())
      taken.insert(port->portNumber);
  std::vector<int32_t> mapped;
  int32_t next = kMappedPort;
  for (size_t i = 0; i < lines.size(); ++i) {
    while (taken.count(next) != 0) --next;
    mapped.push_back(next--);
  }
  return mapped;
}

RunningLine Running(GatewayLine& line) {
  std::vector<ClassGroup> groups = std::exchange(line.options.groups, {});
  RunningLine running{line, {}};
  line.options.groups = std::move(groups);
  std::string& text = running.classes;
  for (const ClassGroup& group : line.options.groups) {
    AppendText(&text, group.className);
    text += std::to_string(group.items.size()) + ';';
    for (const ItemSpec& item : group.items) {  // as ItemSpec compares them
      AppendText(&text, item.address);
      AppendText(&text, item.name);
      AppendText(&text, item.unit);
      AppendText(&text, item.topic);
    }
    text += std::to_string(group.writes.size()) + ';';
    for (const std::string& write : group.writes) AppendText(&text, write);
  }
  return running;
}

PlantReload::PlantReload(const GatewayOptions& options, const DriverLibrary& library,
                         std::string libraryPath, PlantStatus& status,
                         LineWorker::Publisher publish, bool verbose, GatewayPlant plant,
                         std::vector<RunningLine> running, std::vector<int32_t> mapped,
                         Workers& workers, std::mutex& workersMutex)
    : options_(options),
      library_(library),
      libraryPath_(std::move(libraryPath)),
      status_(status),
      publish_(std::move(publish)),
      verbose_(verbose),
      plant_(std::move(plant)),
      running_(std::move(running)),
      mapped_(std::move(mapped)),
      workers_(workers),
      workersMutex_(workersMutex) {}

std::optional<std::vector<std::string>> PlantReload::Reload() {
  const std::string stays = "; the running plant stays";
  GatewayPlant next;
  std::string problem;
  try {
    next = ReadGatewayPlantFile(options_.plant, options_.modbus || options_.modbusMap);
  } catch (const std::runtime_error& e) {
    Log(fmt::format("reload: {}{}", e.what(), stays));
    return std::nullopt;
  }
  if (!ApplyOptions(options_, &next, &problem)) {
    Log(fmt::format("reload: {}{}", problem, stays));
    return std::nullopt;
  }
  if (!(next.mqtt == plant_.mqtt) || !(next.http == plant_.http))
    Log("reload: \"mqtt\" and \"http\" take effect at the next start");
  next.mqtt = plant_.mqtt;
  next.http = plant_.http;

  // The new plant's lines: the running worker where nothing changed, else
  // a new one, checked while the running plant polls on.
  const std::vector<int32_t> free =
      MappedPorts(next.lines, std::set<int32_t>(mapped_.begin(), mapped_.end()));
  Workers nextWorkers;
  std::vector<RunningLine> nextRunning;
  std::vector<int32_t> nextMapped;
  std::vector<size_t> started;  // in nextWorkers
  size_t kept = 0;
  for (size_t i = 0; i < next.lines.size(); ++i) {
    GatewayLine& line = next.lines[i];
    nextRunning.push_back(Running(line));
    const RunningLine* running = Named(running_, line.name);
    if (running != nullptr && *running == nextRunning.back()) {
      const size_t at = static_cast<size_t>(running - running_.data());
      nextWorkers.push_back(nullptr);  // taken over below
      nextMapped.push_back(mapped_[at]);
      ++kept;
      continue;
    }
    nextWorkers.push_back(std::make_unique<LineWorker>(library_, std::move(line), free[i], status_,
                                                       next.mqtt.prefix, publish_, verbose_));
    nextMapped.push_back(free[i]);
    if (!nextWorkers.back()->Check(libraryPath_)) {
      Log(fmt::format("reload: line {} cannot be polled as written{}", nextWorkers.back()->name(),
                      stays));
      return std::nullopt;
    }
    started.push_back(i);
  }
  next.lines = {};

  // Modbus clients address the items by the map made at the start: a
  // register must not come to mean another item.
  if (plant_.modbus.enabled && (!started.empty() || kept != running_.size())) {
    Log(
        fmt::format("reload: the lines changed, and Modbus serves the map of the start: restart "
                    "the gateway to change them{}",
                    stays));
    return std::nullopt;
  }

  // The lines that go (changed or no longer in the file) stop first: a
  // new line may open the same port. The kept ones take writes meanwhile.
  Workers gone;
  {
    const std::lock_guard lock(workersMutex_);
    for (size_t i = 0; i < running_.size(); ++i) {
      const RunningLine* line = Named(nextRunning, running_[i].settings.name);
      if (line == nullptr || !(*line == running_[i])) gone.push_back(std::move(workers_[i]));
    }
  }
  const size_t stopped = gone.size();
  std::set<std::string> cleared;
  for (const auto& worker : gone) {
    worker->Stop();
    for (std::string& topic : status_.RemoveLine(worker->name())) cleared.insert(std::move(topic));
  }
  gone.clear();
  for (const size_t i : started) {
    nextWorkers[i]->Enter();
    nextWorkers[i]->Start();
  }
  {
    const std::lock_guard lock(workersMutex_);
    for (auto& worker : workers_) {
      if (!worker) continue;
      const RunningLine* line = Named(nextRunning, worker->name());
      nextWorkers[static_cast<size_t>(line - nextRunning.data())] = std::move(worker);
    }
    workers_ = std::move(nextWorkers);
  }
  std::vector<std::string> setTopics;
  for (const auto& worker : workers_) {
    for (const std::string& topic : ItemTopics(*worker)) cleared.erase(topic);
    for (std::string& topic : worker->SetTopics()) setTopics.push_back(std::move(topic));
  }
  // What the broker keeps of an item that went.
  for (const std::string& topic : cleared) publish_({topic, "", true});
  Log(fmt::format("reload: {} line{} polled on, {} started, {} stopped, {} item message{} cleared",
                  kept, kept == 1 ? "" : "s", started.size(), stopped, cleared.size(),
                  cleared.size() == 1 ? "" : "s"));
  plant_ = std::move(next);
  running_ = std::move(nextRunning);
  mapped_ = std::move(nextMapped);
  return setTopics;
}

}  // namespace tarvo::tools
