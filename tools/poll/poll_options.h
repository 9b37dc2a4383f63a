// What the user asked tarvo-poll to do.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tools/plant/line_config.h"

namespace tarvo::tools {

enum class OutputFormat { kTable, kCsv, kJson };

// The line and its items, and how to poll and show them.
struct PollOptions : LineConfig {
  std::string plant;  // --plant FILE; empty when not given
  std::string line;   // --line NAME: the line of a gateway plant file
  // The line's settings given on the command line ("port", "baud", "parity",
  // "data-bits", "stop-bits", "timeout", "early", "interval"): they take
  // the place of a gateway plant line's.
  std::set<std::string> given;
  bool header = true;        // the CSV header row (--no-header)
  bool plantWrites = false;  // make the plant file's writes too
  int count = 0;             // polls; 0: until Ctrl-C
  OutputFormat format = OutputFormat::kTable;
  bool trace = false;
  bool list = false;
  bool lenient = false;  // accept addresses the driver reads as another text
  std::string library;   // path of the library; empty: the default
};

inline constexpr const char* kNoPort =
    "give the serial port with -p (COMn, a number or a device path)";

// Says a usage error with the hint to --help; returns the exit status 2.
int UsageError(const std::string& message);

// Parses the command line. Returns nothing when the program should go on,
// or the exit status when it should stop: 0 after --help or --version, 2
// after a usage error (the message is printed to stderr).
std::optional<int> ParseCommandLine(int argc, const char* const* argv, PollOptions* options);

}  // namespace tarvo::tools
