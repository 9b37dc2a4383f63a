#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "tools/poll/line_options.h"
#include "tools/poll/poll_options.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::tools {
namespace {

constexpr const char* kDescription =
    "tarvo-poll: reads and writes items of pxr modules through the Tarvo driver library,\n"
    "loaded as a host loads it (dlopen, DllGetClassObject, IIoDriver).\n\n"
    "Example: tarvo-poll -p /dev/ttyUSB0 -b 9600 pxr5100 TA5.1.2 WB5.1.2\n\n"
    "Exit status: 0 when every item of the last poll succeeded, 1 when one failed,\n"
    "2 for a usage error or when the library, the class, the port or an item address\n"
    "cannot be used.\n";

std::string BaudList() {
  std::string list;
  for (int32_t rate : BaudRates()) list += (list.empty() ? "" : ", ") + std::to_string(rate);
  return list;
}

// Checks what CLI11 cannot express; the message, or empty when all is well.
std::string Validate(const PollOptions& o) {
  if (!BaudCode(o.baud)) return fmt::format("baud rate {} is not one of {}", o.baud, BaudList());
  if (!ParityCode(o.parity))
    return fmt::format("parity \"{}\" is not one of none, even, odd, mark, space", o.parity);
  if (o.list) return {};
  if (o.items.empty() && o.writes.empty())
    return "give at least one ITEM to read, --write ITEM=VALUE, or --list";
  if (o.port.empty()) return "give the serial port with -p (COMn, a number or a device path)";
  for (const std::string& write : o.writes) {
    const size_t equals = write.find('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == write.size())
      return fmt::format("--write \"{}\": expected ITEM=VALUE, e.g. DO5.3=1", write);
  }
  return {};
}

}  // namespace

std::optional<int> ParseCommandLine(int argc, const char* const* argv, PollOptions* options) {
  PollOptions& o = *options;
  CLI::App app(kDescription, "tarvo-poll");
  app.get_formatter()->column_width(30);
  app.add_option("CLASS", o.className,
                 "driver class: pxr5100, pxr5303, pxr530x, pxr5700 or pxr5760\n"
                 "(or its class name, e.g. Cpxr5100, or ProgID, e.g. Tarvo.pxr5100)")
      ->required();
  app.add_option("ITEM", o.items, "item addresses to read, e.g. TA5.1.2 (see --list)");
  app.add_option("-p,--port", o.port,
                 "serial port: COMn or n (the library's /dev/ttyS{n-1}),\n"
                 "or a device path, which is mapped to COM255");
  app.add_option("-b,--baud", o.baud, "baud rate (default 9600)");
  app.add_option("--parity", o.parity, "none, even, odd, mark or space (default none)");
  app.add_option("-d,--data-bits", o.dataBits, "7 or 8 (default 8)")->check(CLI::IsMember({7, 8}));
  app.add_option("-s,--stop-bits", o.stopBits, "1 or 2 (default 1)")->check(CLI::IsMember({1, 2}));
  app.add_option("-t,--timeout", o.timeoutMs, "transfer time-out in ms, 100..2000 (default 300)")
      ->check(CLI::Range(100, 2000));
  app.add_flag("--early", o.early,
               "end each exchange as soon as the whole answer is in, rather than\n"
               "after the full time-out (adds \",early\" to the time-out text)");
  app.add_option("-i,--interval", o.intervalSeconds,
                 "seconds from the end of one poll to the start of the next\n"
                 "(default: 2 for the families with a 2-second refresh gate, else 1)")
      ->check(CLI::Range(0.0, 86400.0));
  auto* count = app.add_option("-n,--count", o.count, "number of polls (default: until Ctrl-C)")
                    ->check(CLI::Range(1, 1000000000));
  bool once = false;
  app.add_flag("-1", once, "poll once")->excludes(count);
  std::string format = "table";
  app.add_option("-f,--format", format,
                 "table (refreshed in place on a terminal), csv or json (JSON lines)")
      ->check(CLI::IsMember({"table", "csv", "json"}));
  app.add_option("-w,--write", o.writes,
                 "ITEM=VALUE: write an output before the first poll (VALUE 0, 1, on, off);\n"
                 "may be repeated. Where writes share the module's gate (pxr5760), the\n"
                 "first poll waits until the gate of the new driver object opens (2 s)")
      ->allow_extra_args(false);  // one ITEM=VALUE each: the words after it are CLASS and ITEMs
  app.add_flag("--trace", o.trace, "hex dump of every command and reply (to stderr)");
  app.add_flag("--list", o.list, "show the class's register table and item addresses");
  app.add_option("--library", o.library,
                 "the library to load (default: $TARVO_LIBRARY, else libtarvo.so.1\n"
                 "beside this program, installed or built with it)");
  app.set_version_flag("--version", std::string("tarvo-poll ") + TARVO_VERSION);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::cerr << "tarvo-poll: " << e.what() << "\nRun tarvo-poll --help for the options.\n";
    return 2;
  }
  if (once) o.count = 1;
  o.format = format == "csv"    ? OutputFormat::kCsv
             : format == "json" ? OutputFormat::kJson
                                : OutputFormat::kTable;
  if (const std::string problem = Validate(o); !problem.empty()) {
    std::cerr << "tarvo-poll: " << problem << "\nRun tarvo-poll --help for the options.\n";
    return 2;
  }
  return std::nullopt;
}

}  // namespace tarvo::tools
