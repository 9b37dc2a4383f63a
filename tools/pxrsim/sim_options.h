// What the user asked pxrsim to do.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::tools {

struct SimOptions {
  std::string plant;                 // plant file; empty: the built-in plant
  std::string link = "/tmp/pxrsim";  // the symlink to the pty
  std::string device;                // serve this serial device instead of a pty
  int baud = 0;                      // 0: not given
  std::string parity = "none";
  int dataBits = 8;
  int stopBits = 1;
  std::vector<std::string> faults;  // --fault texts
  bool verbose = false;
  bool printPlant = false;
  bool families = false;
};

// Parses the command line. Returns nothing when the program should go on,
// or the exit status: 0 after --help or --version, 2 after a usage error.
std::optional<int> ParseSimCommandLine(int argc, const char* const* argv, SimOptions* options);

}  // namespace tarvo::tools
