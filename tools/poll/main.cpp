// tarvo-poll: a host on the command line. Loads the library as a host does,
// creates one driver object per class named, parses the items, opens the
// port with the first object and lets the others adopt its handle, and
// polls the items in the order the modules' gates allow; see --help.
#include <fmt/format.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>

#include "tarvo/tarvo.h"
#include "tools/common/driver_library.h"
#include "tools/gateway/gateway_plant.h"
#include "tools/plant/driver_classes.h"
#include "tools/plant/line_options.h"
#include "tools/plant/line_poller.h"
#include "tools/plant/plant_file.h"
#include "tools/plant/shared_line.h"
#include "tools/plant/wire_time.h"
#include "tools/poll/poll_options.h"
#include "tools/poll/poll_output.h"
#include "tools/poll/poll_statistics.h"
#include "tools/poll/register_list.h"
#include "tools/poll/trace_printer.h"

#ifndef TARVO_DEFAULT_LIBRARY
#define TARVO_DEFAULT_LIBRARY "libtarvo.so"
#endif

namespace tarvo::tools {
namespace {

using Clock = std::chrono::system_clock;
constexpr int kUsageError = 2;
LinePoller* running = nullptr;
char stopMessage[160] = "\ntarvo-poll: stopping after the call in progress\n";

void OnSignal(int) {
  if (running != nullptr) running->RequestStop();
  const ssize_t written =
      write(STDERR_FILENO, stopMessage, strnlen(stopMessage, sizeof stopMessage));
  (void)written;
}

// Ctrl-C ends the run after the call in progress, and says how long that
// can take; a second one kills.
void CatchInterrupts(LinePoller& poller, int longestCallSeconds) {
  running = &poller;
  std::snprintf(stopMessage, sizeof stopMessage,
                "\ntarvo-poll: stopping after the call in progress (up to %d s); Ctrl-C again "
                "stops at once\n",
                longestCallSeconds);
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// What the polling finds worth saying beyond the outputs: modules that do
// not answer.
class PollObserver final : public LineObserver {
 public:
  void ModuleSilent(const std::string& message) override {
    std::cerr << "tarvo-poll: " << message << "\n";
  }
};

// Whether `fd` is a regular file with something in it: CSV appended to a
// log gets no second header.
bool NonEmptyFile(int fd) {
  struct stat status {};
  return fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0;
}

std::string KnownClasses() {
  std::string list;
  for (const DriverClass& c : DriverClasses())
    list += fmt::format("\n  {:<8} {:<9} {}", c.family, c.className, c.progId);
  return list;
}

// Whether a poll's table fits the terminal on stdout, so that it can be
// redrawn in place (the cursor cannot go back above the top of the screen).
bool FitsTerminal(size_t rows) {
  if (isatty(STDOUT_FILENO) != 1) return false;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return true;
  return rows + 4 < size.ws_row;  // a blank line, the poll line, the heading, the prompt
}

std::string Pace(const DriverClass& c) {
  switch (c.refresh) {
    case RefreshRule::kChannelGate:
      return "a block read per module every 2 s, for one channel";
    case RefreshRule::kModuleGate:
      return "a block read per module every 2 s";
    case RefreshRule::kBlockWait:
      return fmt::format("each block read waits {:g} s", c.blockWaitSeconds);
    case RefreshRule::kEachRead:
      break;
  }
  return "an exchange per register read";
}

// The longest a driver call of the class can take: its fixed wait, three
// tries of its waits and pauses, and the pause after no answer.
int LongestCallSeconds(const DriverClass& c, int timeoutMs) {
  const int waits = LargestAnswer(c.family).value_or(AnswerTiming{0, 1, 0}).waits;
  const double ms = c.blockWaitSeconds * 1000 + 3 * (waits * timeoutMs + 500) + 2000;
  return static_cast<int>(std::ceil(ms / 1000));
}

// The class groups of the plant file: tarvo-poll's, or those of one line
// of tarvo-gateway's, whose port and settings are taken where the command
// line gives none. Throws std::runtime_error.
std::vector<ClassGroup> ReadPlant(PollOptions& o) {
  const std::string text = ReadPlantText(o.plant);
  if (o.line.empty()) {
    if (std::optional<std::vector<ClassGroup>> groups = ReadPollPlantUnlessLines(text, o.plant))
      return std::move(*groups);
  } else if (!HasPlantLines(text, o.plant)) {
    throw std::runtime_error(
        fmt::format("--line {}: {} is a plant file of tarvo-poll, without lines", o.line, o.plant));
  }
  GatewayPlant plant = ReadGatewayPlant(text, o.plant, false);
  std::string names;
  for (const GatewayLine& line : plant.lines) names += (names.empty() ? "" : ", ") + line.name;
  auto chosen = std::find_if(plant.lines.begin(), plant.lines.end(),
                             [&](const GatewayLine& line) { return line.name == o.line; });
  if (o.line.empty() && plant.lines.size() == 1) chosen = plant.lines.begin();
  if (chosen == plant.lines.end() && o.line.empty())
    throw std::runtime_error(fmt::format("{} has {} lines ({}): choose one with --line NAME",
                                         o.plant, plant.lines.size(), names));
  if (chosen == plant.lines.end())
    throw std::runtime_error(
        fmt::format("{} has no line \"{}\"; its lines: {}", o.plant, o.line, names));
  LineConfig& line = chosen->options;
  if (!o.given.contains("port")) o.port = line.port;
  if (!o.given.contains("baud")) o.baud = line.baud;
  if (!o.given.contains("parity")) o.parity = line.parity;
  if (!o.given.contains("data-bits")) o.dataBits = line.dataBits;
  if (!o.given.contains("stop-bits")) o.stopBits = line.stopBits;
  if (!o.given.contains("timeout")) o.timeoutMs = line.timeoutMs;
  if (!o.given.contains("early")) o.early = line.early;
  if (!o.given.contains("interval")) o.intervalSeconds = line.intervalSeconds;
  return std::move(line.groups);
}

// The class groups, one per class: the command line's, then the plant
// file's (its writes only when asked); groups of one class merged. Nothing after a message.
std::optional<std::vector<LineMember>> Members(PollOptions& o) {
  std::vector<ClassGroup> groups = o.groups;
  if (!o.plant.empty()) {
    try {
      std::vector<ClassGroup> plant = ReadPlant(o);
      if (!o.plantWrites)
        if (const std::string note = LeaveWritesUnmade(&plant); !note.empty())
          std::cerr << "tarvo-poll: " << note << "\n";
      for (ClassGroup& group : plant) groups.push_back(std::move(group));
    } catch (const std::runtime_error& e) {
      std::cerr << "tarvo-poll: " << e.what() << "\n";
      return std::nullopt;
    }
  }
  std::string unknown;
  std::optional<std::vector<LineMember>> members = MergeClassGroups(std::move(groups), &unknown);
  if (!members)
    std::cerr << fmt::format("tarvo-poll: unknown class \"{}\"; the classes are:{}\n", unknown,
                             KnownClasses());
  return members;
}

int Run(PollOptions& o) {
  std::optional<std::vector<LineMember>> members = Members(o);
  if (!members) return kUsageError;
  if (o.list && members->empty()) {
    std::cout << "The classes (tarvo-poll --list CLASS shows one):" << KnownClasses() << "\n";
    return 0;
  }
  if (!o.list && o.port.empty()) return UsageError(kNoPort);
  const std::string path = ChooseLibraryPath(o.library, TARVO_DEFAULT_LIBRARY);
  DriverLibrary library(path);
  if (!library.ok()) {
    std::cerr << fmt::format("tarvo-poll: cannot use the library {}: {}\n", path, library.error());
    return kUsageError;
  }
  LinePoller poller(library, std::move(*members), o, "tarvo-poll");
  PollObserver observer;
  poller.SetObserver(&observer);
  const SharedLine& line = poller.line();
  if (!poller.CreateObjects(path)) return kUsageError;
  if (o.list) {
    for (size_t i = 0; i < line.size(); ++i) {
      const std::span<const RegisterDesc> table = line.RegisterTable(i);
      std::cout << FormatRegisterList(line.driverClass(i), table.data(),
                                      static_cast<int16_t>(table.size()));
    }
    return 0;
  }
  // Every address is checked before the port is opened.
  if (!poller.ParseItems(!o.lenient)) return kUsageError;

  const std::vector<int>& timeouts = poller.timeouts();
  if (const std::optional<std::string> problem = poller.Open()) {
    std::cerr << "tarvo-poll: " << *problem << "\n";
    return kUsageError;
  }
  // Once the items are accepted, before the first poll.
  for (const std::string& warning : line.TimeoutWarnings(o, timeouts)) std::cerr << warning;
  int longestCall = 0;
  PollHeader header{line.portText(), line.lineText(), o.early, 0, {}};
  for (size_t i = 0; i < line.size(); ++i) {
    const DriverClass& c = line.driverClass(i);
    longestCall = std::max(longestCall, LongestCallSeconds(c, timeouts[i]));
    header.classes.push_back(
        {std::string(c.className), std::string(c.progId), timeouts[i], Pace(c)});
  }
  header.intervalSeconds = DefaultIntervalSeconds(o, line);

  std::optional<TracePrinter> trace;
  if (o.trace) trace.emplace(library, std::cerr);
  std::unique_ptr<PollOutput> output;
  if (o.format == OutputFormat::kCsv)
    output = MakeCsvOutput(std::cout, o.header && !NonEmptyFile(STDOUT_FILENO));
  if (o.format == OutputFormat::kJson) output = MakeJsonOutput(std::cout);
  // The table is redrawn in place only on a terminal it fits, and not when
  // trace lines scroll it.
  if (o.format == OutputFormat::kTable)
    output = MakeTableOutput(std::cout, !o.trace && FitsTerminal(line.itemCount()));
  output->Start(header);

  CatchInterrupts(poller, longestCall);
  PollStatistics statistics;
  bool lastFailed = false;
  for (int number = 1; o.count == 0 || number <= o.count; ++number) {
    const PollRecord poll = poller.Poll();
    statistics.CountPoll();
    statistics.Count(poll.readings);
    output->Show(poll);
    lastFailed = poll.failed;
    if (poller.stopping() || number == o.count) break;
    // The pause runs from the end of a poll: a poll that took long (the
    // first one scans the modules) does not shorten the next one.
    poller.Pause(std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(header.intervalSeconds)));
    if (poller.stopping()) break;
  }
  const bool stopped = poller.stopping();
  running = nullptr;
  if (stopped || statistics.polls() > 1) std::cerr << statistics.Report();
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
