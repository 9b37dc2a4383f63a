// tarvo-poll: a host on the command line. Loads the library as a host does,
// creates one driver object of the class named, opens the port, parses the
// items and polls them; see --help.
#include <fmt/format.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "tarvo/tarvo.h"
#include "tools/common/driver_library.h"
#include "tools/common/gbk.h"
#include "tools/poll/driver_classes.h"
#include "tools/poll/line_options.h"
#include "tools/poll/poll_options.h"
#include "tools/poll/poll_output.h"
#include "tools/poll/poll_session.h"
#include "tools/poll/poll_statistics.h"
#include "tools/poll/register_list.h"
#include "tools/poll/trace_printer.h"
#include "tools/poll/wire_time.h"

#ifndef TARVO_DEFAULT_LIBRARY
#define TARVO_DEFAULT_LIBRARY "libtarvo.so"
#endif

namespace tarvo::tools {
namespace {

constexpr int kUsageError = 2;
volatile sig_atomic_t interrupted = 0;

void OnSignal(int) { interrupted = 1; }

// Ctrl-C ends the run after the call in progress; a second one kills.
void CatchInterrupts() {
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// Sleeps until `until` or an interrupt.
void SleepUntil(std::chrono::steady_clock::time_point until) {
  while (!interrupted && std::chrono::steady_clock::now() < until) {
    const auto left = until - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(20)));
  }
}

std::string KnownClasses() {
  std::string list;
  for (const DriverClass& c : DriverClasses())
    list += fmt::format("\n  {:<8} {:<9} {}", c.family, c.className, c.progId);
  return list;
}

std::string LibraryPath(const PollOptions& o) {
  if (!o.library.empty()) return o.library;
  if (const char* env = std::getenv("TARVO_LIBRARY"); env != nullptr && *env != '\0') return env;
  return TARVO_DEFAULT_LIBRARY;
}

// The driver object, released and its port closed at the end.
struct DriverObject {
  IIoDriver* driver = nullptr;
  bool open = false;
  ~DriverObject() {
    if (driver == nullptr) return;
    if (open) driver->ClosePort(0);
    driver->Release();
  }
};

// A port number mapped to a device for the run.
struct PortMapping {
  const DriverLibrary* library = nullptr;
  int32_t port = 0;
  ~PortMapping() {
    if (library != nullptr) library->SetPortDevice(port, nullptr);
  }
};

// Whether a poll's table fits the terminal on stdout, so that it can be
// redrawn in place (the cursor cannot go back above the top of the screen).
bool FitsTerminal(size_t rows) {
  if (isatty(STDOUT_FILENO) != 1) return false;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return true;
  return rows + 4 < size.ws_row;  // a blank line, the poll line, the heading, the prompt
}

std::unique_ptr<PollOutput> MakeOutput(const PollOptions& o, const DriverClass& c) {
  switch (o.format) {
    case OutputFormat::kCsv:
      return MakeCsvOutput(std::cout, std::string(c.className));
    case OutputFormat::kJson:
      return MakeJsonOutput(std::cout, std::string(c.className));
    case OutputFormat::kTable:
      break;
  }
  // Redrawn in place only on a terminal it fits, and not when trace lines
  // scroll it.
  return MakeTableOutput(std::cout, !o.trace && FitsTerminal(o.items.size() + o.writes.size()));
}

int Run(const PollOptions& o) {
  const DriverClass* driverClass = FindDriverClass(o.className);
  if (driverClass == nullptr) {
    std::cerr << fmt::format("tarvo-poll: unknown class \"{}\"; the classes are:{}\n", o.className,
                             KnownClasses());
    return kUsageError;
  }
  const DriverClass& c = *driverClass;
  const std::string path = LibraryPath(o);
  DriverLibrary library(path);
  if (!library.ok()) {
    std::cerr << fmt::format("tarvo-poll: cannot use the library {}: {}\n", path, library.error());
    return kUsageError;
  }
  HRESULT created = S_OK;
  DriverObject object{library.Create(*c.clsid, &created)};
  const auto createdAt = std::chrono::steady_clock::now();
  if (object.driver == nullptr) {
    if (created == CLASS_E_CLASSNOTAVAILABLE) {
      std::cerr << fmt::format("tarvo-poll: the library {} does not offer {} ({})\n", path,
                               c.className, c.progId);
    } else {
      std::cerr << fmt::format("tarvo-poll: cannot create {} ({}): {}\n", c.className, c.progId,
                               DescribeHresult(created));
    }
    return kUsageError;
  }
  IIoDriver* driver = object.driver;

  if (o.list) {
    RegisterDesc* table = nullptr;
    int16_t count = 0;
    driver->GetRegisterTable(&table, &count);
    std::cout << FormatRegisterList(c, table, count);
    return 0;
  }

  std::string problem;
  const std::optional<PortChoice> port = ParsePort(o.port, &problem);
  if (!port) {
    std::cerr << "tarvo-poll: " << problem << "\n";
    return kUsageError;
  }
  PortMapping mapping;
  std::string portText = fmt::format("COM{} = /dev/ttyS{}", port->portNumber, port->portNumber - 1);
  if (!port->device.empty()) {
    if (library.SetPortDevice(port->portNumber, port->device.c_str()) != 1) {
      std::cerr << fmt::format("tarvo-poll: the library refused to map COM{} to {}\n",
                               port->portNumber, port->device);
      return kUsageError;
    }
    mapping.library = &library;
    mapping.port = port->portNumber;
    portText = fmt::format("COM{} = {}", port->portNumber, port->device);
  }

  LineSettings settings{};
  settings.PortIndex = static_cast<int16_t>(port->portNumber - 1);
  settings.BaudCode = *BaudCode(o.baud);
  settings.DataBitsCode = static_cast<int16_t>(o.dataBits == 7 ? 0 : 1);
  settings.StopBitsCode = static_cast<int16_t>(o.stopBits == 2 ? 1 : 0);
  settings.ParityCode = *ParityCode(o.parity);
  settings.LineTimeout = static_cast<uint32_t>(o.timeoutMs);
  PortConfig config{};
  config.Settings = &settings;
  std::snprintf(config.TimeoutText, sizeof config.TimeoutText, "%d%s", o.timeoutMs,
                o.early ? ",early" : "");
  const std::string lineText =
      fmt::format("{} {}{}{}", o.baud, o.dataBits, ParityLetter(settings.ParityCode), o.stopBits);
  if (driver->OpenPort(&config) != 1) {
    const ExplainedError error = ExplainError(GbkToUtf8(driver->GetErrorText()));
    std::cerr << fmt::format("tarvo-poll: cannot open {} at {}: {}\n", portText, lineText,
                             error.Display());
    return kUsageError;
  }
  object.open = true;

  PollSession session(driver);
  bool refused = false;
  for (const std::string& write : o.writes) {
    if (!session.AddWrite(write, &problem)) {
      std::cerr << "tarvo-poll: " << problem << "\n";
      refused = true;
    }
  }
  for (const std::string& item : o.items) {
    if (!session.AddRead(item, &problem)) {
      std::cerr << "tarvo-poll: " << problem << "\n";
      refused = true;
    }
  }
  if (refused) {
    std::cerr << fmt::format("tarvo-poll: see tarvo-poll --list {} for the item addresses\n",
                             c.family);
    return kUsageError;
  }

  // Once the items are accepted, before the first poll. Start, data, parity
  // and stop bits of every byte on the line.
  const int bitsPerCharacter =
      1 + o.dataBits + (settings.ParityCode == *ParityCode("none") ? 0 : 1) + o.stopBits;
  if (const std::optional<std::string> warning =
          TimeoutWarning(c.family, o.baud, bitsPerCharacter, o.timeoutMs))
    std::cerr << *warning;

  std::optional<TracePrinter> trace;
  if (o.trace) trace.emplace(library, std::cerr);
  const double interval = o.intervalSeconds.value_or(c.defaultIntervalSeconds);
  std::unique_ptr<PollOutput> output = MakeOutput(o, c);
  output->Start({std::string(c.className), std::string(c.progId), portText, lineText, o.timeoutMs,
                 interval, o.early});

  CatchInterrupts();
  PollStatistics statistics;
  bool lastFailed = false;
  for (int number = 1; o.count == 0 || number <= o.count; ++number) {
    if (number == 1 && !o.writes.empty() && c.writeGateSeconds > 0) {
      // The object's gate opens this long after its creation; a write
      // before then fails without reaching the module.
      SleepUntil(createdAt + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                 std::chrono::duration<double>(c.writeGateSeconds)));
      if (interrupted) break;
    }
    PollRecord poll{number, std::chrono::system_clock::now(), {}};
    if (number == 1) poll.readings = session.Write();
    for (ItemReading& reading : session.Read()) poll.readings.push_back(std::move(reading));
    statistics.CountPoll();
    statistics.Count(poll.readings);
    output->Show(poll);
    lastFailed = poll.failed();
    if (interrupted || number == o.count) break;
    // The pause runs from the end of a poll: a poll that took long (the
    // first one scans the modules) does not shorten the next module gate.
    SleepUntil(std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(interval)));
    if (interrupted) break;
  }
  if (interrupted || statistics.polls() > 1) std::cerr << statistics.Report();
  return lastFailed ? 1 : 0;
}

}  // namespace
}  // namespace tarvo::tools

int main(int argc, char** argv) {
  tarvo::tools::PollOptions options;
  if (const std::optional<int> exit = tarvo::tools::ParseCommandLine(argc, argv, &options))
    return *exit;
  return tarvo::tools::Run(options);
}
