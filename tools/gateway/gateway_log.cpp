#include "tools/gateway/gateway_log.h"

#include <iostream>
#include <mutex>
#include <string>

namespace tarvo::tools {

void Log(std::string_view message) {
  static std::mutex mutex;
  std::string line = "tarvo-gateway: ";
  line.append(message).append("\n");
  const std::lock_guard lock(mutex);
  std::cerr << line << std::flush;
}

}  // namespace tarvo::tools
