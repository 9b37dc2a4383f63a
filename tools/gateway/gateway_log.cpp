#include "tools/gateway/gateway_log.h"

#include <iostream>
#include <mutex>
#include <string>

namespace tarvo::tools {
namespace {

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

void Write(std::string_view message) {
  std::string line = "tarvo-gateway: ";
  line.append(message).append("\n");
  std::cerr << line << std::flush;
}

struct Limited {
  std::mutex mutex;
  LogLimiter limiter;
};

Limited& TheLimited() {
  static Limited limited;
  return limited;
}

void WriteAll(const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  const std::lock_guard lock(OutputMutex());
  for (const std::string& line : lines) Write(line);
}

}  // namespace

void Log(std::string_view message) {
  const std::lock_guard lock(OutputMutex());
  Write(message);
}

void LogLimited(std::string_view kind, std::string_view message) {
  Limited& limited = TheLimited();
  const std::lock_guard lock(limited.mutex);
  WriteAll(limited.limiter.Take(kind, message, LogLimiter::Clock::now()));
}

void FlushLimitedLog(bool all) {
  Limited& limited = TheLimited();
  const std::lock_guard lock(limited.mutex);
  WriteAll(
      limited.limiter.Flush(all ? LogLimiter::Clock::time_point::max() : LogLimiter::Clock::now()));
}

std::vector<std::string> LogLimiter::Take(std::string_view kind, std::string_view message,
                                          Clock::time_point now) {
  std::vector<std::string> lines = Flush(now);
  auto window = windows_.find(kind);
  if (window == windows_.end())
    window = windows_.emplace(std::string(kind), Window{now, 0, 0, {}}).first;
  Window& w = window->second;
  if (w.logged < kLogBurst) {
    ++w.logged;
    lines.emplace_back(message);
  } else {
    ++w.heldBack;
    w.last = message;
  }
  return lines;
}

std::vector<std::string> LogLimiter::Flush(Clock::time_point now) {
  std::vector<std::string> lines;
  for (auto window = windows_.begin(); window != windows_.end();) {
    if (now - window->second.start < kLogWindow) {
      ++window;
      continue;
    }
    if (window->second.heldBack > 0) lines.push_back(HeldBack(window->second));
    window = windows_.erase(window);
  }
  return lines;
}

std::string LogLimiter::HeldBack(const Window& window) {
  return window.last + " (" + std::to_string(window.heldBack) + " more like this in " +
         std::to_string(kLogWindow.count()) + " s)";
}

}  // namespace tarvo::tools
