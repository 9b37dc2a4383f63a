#include "tools/plant/wire_time.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "tools/plant/line_options.h"

namespace tarvo::tools {
namespace {

// What the waits must hold besides the answer: they start when the command
// starts on the wire (every read command is 5 bytes), and the module takes a
// moment to turn around before it answers.
constexpr int32_t kCommandBytes = 5;
constexpr double kTurnaroundMs = 50.0;

// The time from the command's first byte to the answer's last.
double ExchangeMs(const AnswerTiming& answer, int32_t baud, int bitsPerCharacter) {
  return WireTimeMs(kCommandBytes + answer.bytes, baud, bitsPerCharacter) + kTurnaroundMs;
}

// Whether the waits of timeoutMs hold an exchange of exchangeMs.
bool Fits(const AnswerTiming& answer, double exchangeMs, int32_t timeoutMs) {
  return std::max(timeoutMs, answer.minimumWaitMs) * answer.waits >= exchangeMs;
}

}  // namespace

std::optional<AnswerTiming> LargestAnswer(std::string_view family) {
  for (const DriverClass& c : DriverClasses())
    if (c.family == family) return c.largestAnswer;
  return std::nullopt;
}

double WireTimeMs(int32_t bytes, int32_t baud, int bitsPerCharacter) {
  return 1000.0 * bytes * bitsPerCharacter / baud;
}

int32_t FittingTimeoutMs(std::string_view family, int32_t baud, int bitsPerCharacter) {
  const std::optional<AnswerTiming> answer = LargestAnswer(family);
  if (!answer || baud <= 0) return kMinTimeoutMs;
  const auto perWait =
      static_cast<int32_t>(std::ceil(ExchangeMs(*answer, baud, bitsPerCharacter) / answer->waits));
  return std::clamp(perWait, kMinTimeoutMs, kMaxTimeoutMs);
}

std::optional<std::string> TimeoutWarning(std::string_view family, int32_t baud,
                                          int bitsPerCharacter, int32_t timeoutMs) {
  const std::optional<AnswerTiming> answer = LargestAnswer(family);
  if (!answer || baud <= 0) return std::nullopt;
  const double exchange = ExchangeMs(*answer, baud, bitsPerCharacter);
  if (Fits(*answer, exchange, timeoutMs)) return std::nullopt;
  const std::string head = fmt::format(
      "tarvo-poll: warning: {} answers of up to {} bytes take {:.0f} ms on the wire at {} baud, "
      "{:.0f} ms with their command and the module's turnaround, ",
      family, answer->bytes, WireTimeMs(answer->bytes, baud, bitsPerCharacter), baud, exchange);
  const int32_t fitting = FittingTimeoutMs(family, baud, bitsPerCharacter);
  if (Fits(*answer, exchange, fitting)) {
    return head + fmt::format(
                      "but the time-out of {} ms gives them {} ms: a full answer arrives cut "
                      "short; use -t {} or more, or leave -t out\n",
                      timeoutMs, std::max(timeoutMs, answer->minimumWaitMs) * answer->waits,
                      fitting);
  }
  std::string rates;
  for (const int32_t rate : BaudRates()) {
    if (rate > baud && Fits(*answer, ExchangeMs(*answer, rate, bitsPerCharacter), kMaxTimeoutMs)) {
      rates = fmt::format(" ({} or more)", rate);
      break;
    }
  }
  return head + fmt::format(
                    "more than the longest time-out ({} ms) lets arrive: a full answer arrives "
                    "cut short; use a higher baud rate{} or fewer points on the module\n",
                    kMaxTimeoutMs, rates);
}

}  // namespace tarvo::tools
