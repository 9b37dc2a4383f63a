#include "serial/platform.h"

#include <atomic>

namespace tarvo::serial {
namespace {
std::atomic<Platform*> installed{nullptr};
}  // namespace

Platform& CurrentPlatform() {
  Platform* platform = installed.load();
  return platform != nullptr ? *platform : SystemPlatform();
}

void SetPlatform(Platform* platform) { installed.store(platform); }

}  // namespace tarvo::serial
