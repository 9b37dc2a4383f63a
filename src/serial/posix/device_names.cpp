#include "serial/device_names.h"

#include <map>
#include <string>

namespace tarvo::serial {
namespace {
std::map<int32_t, std::string>& Mapped() {
  static std::map<int32_t, std::string> mapped;
  return mapped;
}
}  // namespace

bool SetPortDevice(int32_t port, const char* path) {
  if (port < kFirstPort || port > kLastPort) return false;
  if (path == nullptr || *path == '\0')
    Mapped().erase(port);
  else
    Mapped()[port] = path;
  return true;
}

std::string PortDevice(int32_t port) {
  const auto found = Mapped().find(port);
  if (found != Mapped().end()) return found->second;
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace tarvo::serial
