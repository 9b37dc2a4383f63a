// What the wire carried for each module of a line, from the library's
// trace: the commands sent and the bytes received in the driver calls made
// on the polling thread. A module whose commands got no byte back in a
// poll does not answer at all, which the driver's codes do not tell apart
// from an answer it could not use (a pxr5100 says "initialisation failed",
// a pxr5700 "error reading the serial port").
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/driver_library.h"

namespace tarvo::tools {

struct Traffic {
  int commands = 0;
  long long received = 0;  // bytes
};

// Installs the library's trace handler that counts for TrafficScope; the
// same handler every time, so each line may install it. Process-wide.
void CountTraffic(const DriverLibrary& library);
// Hands every trace record on to `handler` as well (null: no more); set it
// while no line is polled.
void ForwardTraffic(TarvoTraceHandler handler, void* context);

// Counts the traffic of the driver calls made on this thread while it lives.
class TrafficScope {
 public:
  explicit TrafficScope(Traffic* traffic);
  ~TrafficScope();
  TrafficScope(const TrafficScope&) = delete;
  TrafficScope& operator=(const TrafficScope&) = delete;

 private:
  Traffic* outer_;
};

// The modules of a line that do not answer, said once each time one falls
// silent: "pxr5700 module 4 does not answer: check its address, the baud
// rate and the wiring (12 commands, 0 bytes)". Not said again until it has
// answered in between.
class SilentModules {
 public:
  // A driver call's traffic to module `module` of the class `family`.
  void Add(const std::string& family, int module, const Traffic& traffic);
  // At the end of a poll: what to say of the modules that fell silent in
  // it. Modules sent no command in the poll keep their state.
  std::vector<std::string> PollEnded();

 private:
  struct Module {
    Traffic poll;
    bool silent = false;
  };
  std::map<std::pair<std::string, int>, Module> modules_;
};

}  // namespace tarvo::tools
