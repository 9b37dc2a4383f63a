// What the user asked tarvo-poll to do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::tools {

enum class OutputFormat { kTable, kCsv, kJson };

struct PollOptions {
  std::string className;            // family, class name or ProgID as given
  std::vector<std::string> items;   // item addresses to read
  std::vector<std::string> writes;  // "ITEM=VALUE", written before the first poll
  std::string port;                 // as given (-p); empty when not given
  int32_t baud = 9600;
  std::string parity = "none";
  int dataBits = 8;
  int stopBits = 1;
  int timeoutMs = 300;                    // the transfer time-out
  bool early = false;                     // early replies (",early" in the time-out text)
  std::optional<double> intervalSeconds;  // pause between polls; unset: the class's default
  int count = 0;                          // polls; 0: until Ctrl-C
  OutputFormat format = OutputFormat::kTable;
  bool trace = false;
  bool list = false;
  std::string library;  // path of the library; empty: the default
};

// Parses the command line. Returns nothing when the program should go on,
// or the exit status when it should stop: 0 after --help or --version, 2
// after a usage error (the message is printed to stderr).
std::optional<int> ParseCommandLine(int argc, const char* const* argv, PollOptions* options);

}  // namespace tarvo::tools
