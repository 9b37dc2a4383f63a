// The gateway's rate-limited log lines: the first of a kind in a window
// as they come, the rest counted and said once when the window ends.
#include "tools/gateway/gateway_log.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

using std::chrono::milliseconds;

struct LogStep {
  int atMs;          // since the first step
  const char* kind;  // nullptr: a flush
  const char* message;
  std::vector<std::string> lines;  // what is logged then
};

const LogStep kSteps[] = {
    {0, "a", "a 1", {"a 1"}},
    {1, "a", "a 2", {"a 2"}},
    {2, "b", "b 1", {"b 1"}},
    {3, "a", "a 3", {"a 3"}},
    {4, "a", "a 4", {"a 4"}},
    {5, "a", "a 5", {"a 5"}},
    {6, "a", "a 6", {}},
    {7, "a", "a 7", {}},
    {8, "b", "b 2", {"b 2"}},
    {4999, nullptr, nullptr, {}},
    // a's window ends: what it held back, once; b held nothing back.
    {5000, nullptr, nullptr, {"a 7 (2 more like this in 5 s)"}},
    {5001, nullptr, nullptr, {}},
    {5002, "b", "b 3", {"b 3"}},
    {6000, "a", "a 8", {"a 8"}},
    // Windows that held nothing back end without a word.
    {10002, "b", "b 4", {"b 4"}},
    {11000, "a", "a 9", {"a 9"}},
};

TEST(GatewayLog, ALimitedKindLogsItsFirstLinesThenHowManyMoreInTheWindow) {
  LogLimiter limiter;
  const LogLimiter::Clock::time_point start = LogLimiter::Clock::now();
  for (const LogStep& step : kSteps) {
    const auto now = start + milliseconds(step.atMs);
    const std::vector<std::string> lines =
        step.kind == nullptr ? limiter.Flush(now) : limiter.Take(step.kind, step.message, now);
    EXPECT_EQ(lines, step.lines) << step.atMs;
  }
}

TEST(GatewayLog, AWindowEndingAtTheNextLineSaysItsCountFirst) {
  LogLimiter limiter;
  const LogLimiter::Clock::time_point start = LogLimiter::Clock::now();
  for (int i = 0; i < 100; ++i) limiter.Take("w", "w " + std::to_string(i), start);
  EXPECT_EQ(limiter.Take("w", "next", start + milliseconds(5000)),
            (std::vector<std::string>{"w 99 (95 more like this in 5 s)", "next"}));
}

}  // namespace
}  // namespace tarvo::tools
