// tarvo-gateway's log: one line per event on stderr ("tarvo-gateway: ..."),
// which the journal keeps when systemd runs it. Lines of several threads
// never mix.
//
// Lines that outside input can cause at any rate (the answers to a line's
// writes) are logged by kind, rate-limited: the first kLogBurst of a kind
// in a kLogWindow, then one line when the window ends, the last held back
// with how many there were: "... (N more like this in 5 s)".
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::tools {

inline constexpr int kLogBurst = 5;
inline constexpr std::chrono::seconds kLogWindow{5};

void Log(std::string_view message);

// Logs `message` unless kLogBurst lines of its kind went in this window.
void LogLimited(std::string_view kind, std::string_view message);
// Logs what the windows that ended held back, called every second or so;
// with `all`, what every window held back, before the program ends.
void FlushLimitedLog(bool all = false);

// The rate limit without the clock and the output: each call gives the
// lines to log now.
class LogLimiter {
 public:
  using Clock = std::chrono::steady_clock;

  std::vector<std::string> Take(std::string_view kind, std::string_view message,
                                Clock::time_point now);
  // With `now` past kLogWindow, the line of each window that ended, and
  // the window forgotten.
  std::vector<std::string> Flush(Clock::time_point now);

 private:
  struct Window {
    Clock::time_point start;
    int logged = 0;
    long heldBack = 0;
    std::string last;  // the last held back
  };
  static std::string HeldBack(const Window& window);

  std::map<std::string, Window, std::less<>> windows_;
};

}  // namespace tarvo::tools
