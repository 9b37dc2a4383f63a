#include "tools/plant/module_traffic.h"

#include <fmt/format.h>

#include <cstring>
#include <mutex>

namespace tarvo::tools {
namespace {

thread_local Traffic* counting = nullptr;

std::mutex forwardMutex;
TarvoTraceHandler forward = nullptr;
void* forwardContext = nullptr;

void Count(void*, const char* label, const uint8_t* bytes, int32_t count) {
  if (Traffic* traffic = counting; traffic != nullptr && label != nullptr) {
    // "Read Send", "Write Send"; "Read Receive", "Write Receive".
    if (std::strstr(label, "Send") != nullptr) ++traffic->commands;
    if (std::strstr(label, "Receive") != nullptr && count > 0) traffic->received += count;
  }
  TarvoTraceHandler handler;
  void* context;
  {
    const std::lock_guard lock(forwardMutex);
    handler = forward;
    context = forwardContext;
  }
  if (handler != nullptr) handler(context, label, bytes, count);
}

}  // namespace

void CountTraffic(const DriverLibrary& library) { library.SetTraceHandler(&Count, nullptr); }

void ForwardTraffic(TarvoTraceHandler handler, void* context) {
  const std::lock_guard lock(forwardMutex);
  forward = handler;
  forwardContext = context;
}

TrafficScope::TrafficScope(Traffic* traffic) : outer_(counting) { counting = traffic; }

TrafficScope::~TrafficScope() { counting = outer_; }

void SilentModules::Add(const std::string& family, int module, const Traffic& traffic) {
  Traffic& poll = modules_[{family, module}].poll;
  poll.commands += traffic.commands;
  poll.received += traffic.received;
}

std::vector<std::string> SilentModules::PollEnded() {
  std::vector<std::string> said;
  for (auto& [key, m] : modules_) {
    if (m.poll.commands == 0) continue;
    const bool silent = m.poll.received == 0;
    if (silent && !m.silent)
      said.push_back(fmt::format(
          "{} module {} does not answer: check its address, the baud rate and the wiring ({} "
          "command{}, 0 bytes)",
          key.first, key.second, m.poll.commands, m.poll.commands == 1 ? "" : "s"));
    m.silent = silent;
    m.poll = {};
  }
  return said;
}

}  // namespace tarvo::tools
