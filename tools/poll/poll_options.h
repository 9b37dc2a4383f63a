// What the user asked tarvo-poll to do.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::tools {

enum class OutputFormat { kTable, kCsv, kJson };

// An item to read, with what people call it (both may be empty).
struct ItemSpec {
  std::string address;
  std::string name;
  std::string unit;
  std::string topic;  // tarvo-gateway: where it is published; empty: the address
};

// The items of one driver class: one driver object reads them.
struct ClassGroup {
  std::string className;            // family, class name or ProgID as given
  std::vector<ItemSpec> items;      // item addresses to read
  std::vector<std::string> writes;  // "ITEM=VALUE", written before the first poll
};

struct PollOptions {
  // From the command line ("CLASS ITEM... -- CLASS ITEM...") and the plant
  // file, in that order.
  std::vector<ClassGroup> groups;
  std::string plant;  // --plant FILE; empty when not given
  std::string port;   // as given (-p); empty when not given
  int32_t baud = 9600;
  std::string parity = "none";
  int dataBits = 8;
  int stopBits = 1;
  std::optional<int> timeoutMs;           // the transfer time-out; unset: what fits the wire
  bool early = true;                      // early replies (",early" in the time-out text)
  std::optional<double> intervalSeconds;  // pause between polls; unset: the classes' default
  int count = 0;                          // polls; 0: until Ctrl-C
  OutputFormat format = OutputFormat::kTable;
  bool trace = false;
  bool list = false;
  bool lenient = false;  // accept addresses the driver reads as another text
  std::string library;   // path of the library; empty: the default
};

// Parses the command line. Returns nothing when the program should go on,
// or the exit status when it should stop: 0 after --help or --version, 2
// after a usage error (the message is printed to stderr).
std::optional<int> ParseCommandLine(int argc, const char* const* argv, PollOptions* options);

}  // namespace tarvo::tools
