#include "serial/line.h"

#include <map>
#include <mutex>
#include <random>

namespace tarvo::serial {

bool Line::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_ != nullptr;
}

void Line::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_) return;
  device_->Close();
  device_.reset();
}

namespace {

// Tokens stay positive as signed pointer-sized values: never all ones,
// which hosts may take for an invalid handle.
constexpr uintptr_t kLastToken = static_cast<uintptr_t>(INTPTR_MAX);

// Tokens count up from a per-load base, so that a token a host kept from an
// earlier load of the library is unlikely to name a line of this one.
uintptr_t FirstToken() {
  uintptr_t base = 0;
  try {
    std::random_device random;
    base = random() & 0x3FFFu;
  } catch (...) {
  }
  return (base << 16) + 1;
}

struct Registry {
  std::mutex mutex;
  std::map<uintptr_t, std::shared_ptr<Line>> lines;
  uintptr_t next = FirstToken();
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

std::shared_ptr<Line> PublishLine(std::unique_ptr<Device> device, int32_t port, int32_t baudRate) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.next == 0 || registry.next > kLastToken) {
    device->Close();
    return nullptr;
  }
  const uintptr_t token = registry.next++;
  auto line = std::make_shared<Line>(std::move(device), port, baudRate, token);
  registry.lines.emplace(token, line);
  return line;
}

std::shared_ptr<Line> FindLine(uintptr_t token) {
  Registry& registry = TheRegistry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.lines.find(token);
  if (found == registry.lines.end()) return nullptr;
  return found->second;
}

void CloseLine(Line& line) {
  {
    // Withdrawn first, so that no OpenPort adopts a line being closed.
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.lines.erase(line.token());
  }
  line.Close();
}

}  // namespace tarvo::serial
