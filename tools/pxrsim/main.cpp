// pxrsim: the module simulator as a program. Reads a plant (or takes the
// built-in one), serves its modules on a new pseudo-terminal behind a stable
// symlink or on a serial device, moves their values with time, and stops
// cleanly on SIGINT or SIGTERM; see --help.
#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "sim/plant/family.h"
#include "sim/plant/plant.h"
#include "sim/plant/plant_names.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "tools/pxrsim/fault_option.h"
#include "tools/pxrsim/pty_link.h"
#include "tools/pxrsim/serial_device.h"
#include "tools/pxrsim/sim_options.h"
#include "tools/pxrsim/traffic_printer.h"

namespace tarvo::tools {
namespace {

constexpr int kUsageError = 2;
constexpr auto kUpdatePeriod = std::chrono::milliseconds(100);
constexpr size_t kLogEntries = 256;  // the bus keeps no more, however long it runs

volatile sig_atomic_t stopping = 0;
void OnSignal(int) { stopping = 1; }

void CatchSignals() {
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}

std::mutex outputMutex;

void Say(const std::string& line) {
  std::lock_guard lock(outputMutex);
  std::cout << "pxrsim: " << line << "\n" << std::flush;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return std::nullopt;
  return text.str();
}

// The faults of --fault options, applied after the plant's own.
bool ApplyFaultOptions(const SimOptions& o, sim::Plant& plant) {
  for (const std::string& text : o.faults) {
    FaultOption option;
    try {
      option = ParseFaultOption(text);
    } catch (const std::invalid_argument& e) {
      std::cerr << "pxrsim: " << e.what() << "\n";
      return false;
    }
    bool applied = false;
    for (const sim::Plant::Entry& entry : plant.modules()) {
      if (option.address && *option.address != entry.address) continue;
      plant.bus().Find(entry.address)->SetFaults(option.setting.faults, option.setting.answers);
      applied = true;
    }
    if (!applied) {
      std::cerr << fmt::format("pxrsim: --fault {}: the plant has no module at address {}\n", text,
                               *option.address);
      return false;
    }
  }
  return true;
}

int Run(const SimOptions& o) {
  if (o.families) {
    for (const sim::PlantFamily* family : sim::PlantFamilies())
      std::cout << fmt::format("{:<8} {}\n", family->name, family->description);
    return 0;
  }
  std::string text = sim::DefaultPlantText();
  std::string source = "built-in plant";
  if (!o.plant.empty()) {
    std::optional<std::string> file = ReadFile(o.plant);
    if (!file) {
      std::cerr << fmt::format("pxrsim: cannot read the plant file {}: {}\n", o.plant,
                               std::strerror(errno));
      return kUsageError;
    }
    text = std::move(*file);
    source = o.plant;
  }
  std::unique_ptr<sim::Plant> plant;
  try {
    plant = sim::LoadPlant(text, source);
  } catch (const sim::PlantError& e) {
    std::cerr << "pxrsim: " << e.what() << "\n";
    return kUsageError;
  }
  if (o.printPlant) {
    std::cout << text;
    return 0;
  }
  if (plant->modules().empty()) {
    std::cerr << fmt::format("pxrsim: {} has no modules\n", source);
    return kUsageError;
  }
  if (!ApplyFaultOptions(o, *plant)) return kUsageError;

  sim::Bus& bus = plant->bus();
  bus.log().SetCapacity(kLogEntries);
  if (o.verbose) {
    bus.log().SetObserver([](const sim::Exchange& exchange) {
      const std::string text = FormatExchange(std::chrono::system_clock::now(), exchange);
      std::lock_guard lock(outputMutex);
      std::cout << text << std::flush;
    });
  }

  for (const sim::Plant::Entry& entry : plant->modules()) {
    Say(fmt::format("module {:>3} {:<8} {}{}", entry.address, entry.family, entry.summary,
                    entry.name.empty() ? "" : " (" + entry.name + ")"));
  }

  CatchSignals();
  std::optional<sim::PtyPair> pty;
  std::optional<PtyLink> link;
  int device = -1;
  std::optional<sim::PtyServer> server;
  try {
    if (o.device.empty()) {
      pty.emplace();
      server.emplace(*pty, bus.Peer(), sim::PtyServer::Options{.baud = o.baud});
      link.emplace(o.link, pty->slavePath());
      Say(fmt::format("serving on {} (-> {}){}; Ctrl-C stops", link->path(), pty->slavePath(),
                      o.baud > 0 ? fmt::format(", answers paced at {} baud", o.baud) : ""));
    } else {
      const DeviceSettings settings{o.baud > 0 ? o.baud : 9600, o.parity, o.dataBits, o.stopBits};
      device = OpenSerialDevice(o.device, settings);
      server.emplace(device, bus.Peer(), sim::PtyServer::Options{});
      Say(fmt::format("serving on {} at {} {}{}{}; Ctrl-C stops", o.device, settings.baud,
                      settings.dataBits, static_cast<char>(std::toupper(settings.parity[0])),
                      settings.stopBits));
    }
  } catch (const std::exception& e) {
    server.reset();
    if (device >= 0) close(device);
    std::cerr << "pxrsim: " << e.what() << "\n";
    return kUsageError;
  }

  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  while (!stopping) {
    std::this_thread::sleep_for(kUpdatePeriod);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    plant->Update(elapsed.count());
    if (!server->serving()) {
      std::cerr << "pxrsim: the simulator stopped: " << server->error() << "\n";
      status = 1;
      break;
    }
  }
  server.reset();
  link.reset();
  if (device >= 0) close(device);
  Say("stopped");
  return status;
}

}  // namespace
}  // namespace tarvo::tools

int main(int argc, char** argv) {
  tarvo::tools::SimOptions options;
  if (const std::optional<int> exit = tarvo::tools::ParseSimCommandLine(argc, argv, &options))
    return *exit;
  return tarvo::tools::Run(options);
}
