#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/plant/line_options.h"
#include "tools/poll/poll_options.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::tools {
namespace {

constexpr const char* kDescription =
    "tarvo-poll: reads and writes items of pxr modules through the Tarvo driver library,\n"
    "loaded as a host loads it (dlopen, DllGetClassObject, IIoDriver).\n\n"
    "  tarvo-poll [options] CLASS ITEM... [-- CLASS ITEM...]...\n"
    "  tarvo-poll [options] --plant FILE\n\n"
    "Several classes share one line: one driver object per class, the first opens\n"
    "the port and the others adopt its handle. Each poll reads every item once,\n"
    "waiting for each module's refresh gate where its family has one.\n\n"
    "Example: tarvo-poll -p /dev/ttyUSB0 pxr5100 TA1.0.0 TA1.1.0 -- pxr5700 DI4.0 DO4.2\n\n"
    "Exit status: 0 when every item of the last poll was read, 1 when one failed\n"
    "(an item still waiting for its module's gate is no failure), 2 for a usage\n"
    "error or when the library, a class, the port or an item address cannot be used.\n";

// The option after "--" that belongs before the first one, or empty.
std::string MisplacedOption(const CLI::App& app, const CLI::App& groupApp,
                            const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word.size() < 2 || word[0] != '-') continue;
    const std::string name = word.substr(0, word.find('='));
    if (groupApp.get_option_no_throw(name) == nullptr && app.get_option_no_throw(name) != nullptr)
      return word;
  }
  return {};
}

// Checks what CLI11 cannot express; the message, or empty when all is well.
std::string Validate(const PollOptions& o) {
  if (!BaudCode(o.baud))
    return fmt::format("baud rate {} is not one of {}", o.baud, BaudRateList());
  if (!ParityCode(o.parity))
    return fmt::format("parity \"{}\" is not one of none, even, odd, mark, space", o.parity);
  if (!o.line.empty() && o.plant.empty())
    return "--line NAME picks a line of a plant file: give --plant FILE";
  if (o.list) return {};
  if (o.groups.empty() && o.plant.empty())
    return "give CLASS and the ITEMs to read, or --plant FILE, or --list";
  for (const ClassGroup& group : o.groups) {
    if (group.items.empty() && group.writes.empty())
      return fmt::format("give at least one ITEM of {} to read, or --write ITEM=VALUE",
                         group.className);
    for (const std::string& write : group.writes) {
      const size_t equals = write.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == write.size())
        return fmt::format("--write \"{}\": expected ITEM=VALUE, e.g. DO5.3=1", write);
    }
  }
  // A gateway plant file may name the port.
  if (o.port.empty() && o.plant.empty()) return kNoPort;
  return {};
}

// The positional words and writes of one class group, as CLI11 left them.
struct GroupWords {
  std::string className;
  std::vector<std::string> items;
  std::vector<std::string> writes;

  void AddTo(PollOptions* o) const {
    if (className.empty()) return;
    ClassGroup group{className, {}, writes};
    for (const std::string& item : items) group.items.push_back({item, "", "", "", {}});
    o->groups.push_back(std::move(group));
  }
};

void AddGroupOptions(CLI::App& app, GroupWords* words) {
  app.add_option("CLASS", words->className,
                 "driver class: pxr5100, pxr5303, pxr530x, pxr5700 or pxr5760\n"
                 "(or its class name, e.g. Cpxr5100, or ProgID, e.g. Tarvo.pxr5100)");
  app.add_option("ITEM", words->items, "item addresses to read, e.g. TA5.1.2 (see --list)");
  app.add_option("-w,--write", words->writes,
                 "ITEM=VALUE: write an output of this class before the first poll\n"
                 "(VALUE 0, 1, on, off); may be repeated. Where writes share the\n"
                 "module's gate (pxr5760), each waits for the gate to open")
      ->allow_extra_args(false);  // one ITEM=VALUE each: the words after it are CLASS and ITEMs
}

}  // namespace

int UsageError(const std::string& message) {
  std::cerr << "tarvo-poll: " << message << "\nRun tarvo-poll --help for the options.\n";
  return 2;
}

std::optional<int> ParseCommandLine(int argc, const char* const* argv, PollOptions* options) {
  PollOptions& o = *options;
  // "--" separates class groups: the options and the first group before
  // the first one, CLASS ITEM... and its writes after each.
  std::vector<std::vector<std::string>> segments(1);
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--")
      segments.emplace_back();
    else
      segments.back().emplace_back(argv[i]);
  }

  CLI::App app(kDescription, "tarvo-poll");
  app.get_formatter()->column_width(30);
  GroupWords first;
  AddGroupOptions(app, &first);
  app.add_option("--plant", o.plant,
                 "plant file (YAML or JSON): the items of each class, with names and units");
  app.add_option("--line", o.line,
                 "with --plant FILE of tarvo-gateway: the line to poll (its port and\n"
                 "settings, unless given here)");
  app.add_flag("--plant-writes", o.plantWrites,
               "make the plant file's writes (switching outputs) before the first\n"
               "poll; without it they are left unmade, and said so");
  app.add_option("-p,--port", o.port,
                 "serial port: COMn or n (the library's /dev/ttyS{n-1}),\n"
                 "or a device path, which is mapped to COM255");
  app.add_option("-b,--baud", o.baud, "baud rate (default 9600)");
  app.add_option("--parity", o.parity, "none, even, odd, mark or space (default none)");
  app.add_option("-d,--data-bits", o.dataBits, "7 or 8 (default 8)")->check(CLI::IsMember({7, 8}));
  app.add_option("-s,--stop-bits", o.stopBits, "1 or 2 (default 1)")->check(CLI::IsMember({1, 2}));
  app.add_option("-t,--timeout", o.timeoutMs,
                 "transfer time-out in ms, 100..2000 (default: the shortest that lets\n"
                 "the class's largest answer arrive at the baud rate)")
      ->check(CLI::Range(100, 2000));
  bool early = false;
  bool noEarly = false;
  app.add_flag("--early", early, "end each exchange as soon as the whole answer is in (default)");
  app.add_flag("--no-early", noEarly,
               "wait the full time-out in every exchange (no \",early\" in the\n"
               "time-out text)")
      ->excludes("--early");
  app.add_option("-i,--interval", o.intervalSeconds,
                 "seconds from the end of one poll to the start of the next\n"
                 "(default: 2 where a class has a 2-second refresh gate, else 1)")
      ->check(CLI::Range(0.0, 86400.0));
  auto* count = app.add_option("-n,--count", o.count,
                               "number of polls, each reading every item once (default:\n"
                               "until Ctrl-C)")
                    ->check(CLI::Range(1, 1000000000));
  bool once = false;
  app.add_flag("-1", once, "poll once: every item read once")->excludes(count);
  std::string format = "table";
  app.add_option("-f,--format", format,
                 "table (refreshed in place on a terminal), csv or json (JSON lines)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  bool noHeader = false;
  app.add_flag("--no-header", noHeader,
               "no CSV header row (none either when standard output is a file\n"
               "that is not empty)");
  app.add_flag("--lenient", o.lenient,
               "accept item addresses that the driver reads as another text\n"
               "(TA1.0.0.5 read as TA1.0.0); refused by default");
  app.add_flag("--trace", o.trace, "hex dump of every command and reply (to stderr)");
  app.add_flag("--list", o.list,
               "show the class's register table and item addresses; without\n"
               "CLASS, the classes");
  app.add_option("--library", o.library,
                 "the library to load (default: $TARVO_LIBRARY, else libtarvo.so.1\n"
                 "beside this program, installed or built with it)");
  app.set_version_flag("--version", std::string("tarvo-poll ") + TARVO_VERSION);

  try {
    std::vector<std::string> words(segments[0].rbegin(), segments[0].rend());
    app.parse(words);
    first.AddTo(&o);
    for (size_t i = 1; i < segments.size(); ++i) {
      CLI::App groupApp("a class group after --", "tarvo-poll");
      GroupWords group;
      AddGroupOptions(groupApp, &group);
      groupApp.get_option("CLASS")->required();
      std::vector<std::string> groupWords(segments[i].rbegin(), segments[i].rend());
      std::string problem;
      // Checked first: "-1" would be taken for an ITEM.
      if (const std::string option = MisplacedOption(app, groupApp, segments[i]); !option.empty())
        problem = "The following argument was not expected: " + option;
      try {
        if (problem.empty()) groupApp.parse(groupWords);
      } catch (const CLI::ParseError& e) {
        problem = e.what();
      }
      if (!problem.empty())
        return UsageError(fmt::format(
            "after \"--\": {}; a class group is CLASS ITEM... and its --write options, the "
            "other options go before the first \"--\"",
            problem));
      group.AddTo(&o);
    }
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what());
  }
  if (once) o.count = 1;
  o.header = !noHeader;
  for (const char* name :
       {"port", "baud", "parity", "data-bits", "stop-bits", "timeout", "early", "interval"})
    if (app.count(std::string("--") + name) > 0) o.given.insert(name);
  if (noEarly) {
    o.early = false;
    o.given.insert("early");
  }
  o.format = format == "csv"    ? OutputFormat::kCsv
             : format == "json" ? OutputFormat::kJson
                                : OutputFormat::kTable;
  if (const std::string problem = Validate(o); !problem.empty()) return UsageError(problem);
  return std::nullopt;
}

}  // namespace tarvo::tools
