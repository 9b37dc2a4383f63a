#include "tools/poll/wire_time.h"

#include <fmt/format.h>

#include <algorithm>

namespace tarvo::tools {
namespace {

struct FamilyAnswer {
  std::string_view family;
  AnswerTiming timing;
};

// Head ">" mm, two bytes, then 4-byte records: a full channel of 64 points
// (pxr5100), a full module of 3 x 16 (pxr5303), 8 x 64 (pxr530x) or 8 x 32
// (pxr5760) points. The longest pxr5700 reply is the numeric one:
// ">" mm "2," t1 "," t2 CR.
constexpr FamilyAnswer kAnswers[] = {
    {"pxr5100", {5 + 64 * 4, 2, 0}},     {"pxr5303", {5 + 3 * 16 * 4, 1, 0}},
    {"pxr530x", {5 + 8 * 64 * 4, 1, 0}}, {"pxr5700", {17, 1, 100}},
    {"pxr5760", {5 + 8 * 32 * 4, 1, 0}},
};

}  // namespace

std::optional<AnswerTiming> LargestAnswer(std::string_view family) {
  for (const FamilyAnswer& answer : kAnswers)
    if (answer.family == family) return answer.timing;
  return std::nullopt;
}

double WireTimeMs(int32_t bytes, int32_t baud, int bitsPerCharacter) {
  return 1000.0 * bytes * bitsPerCharacter / baud;
}

std::optional<std::string> TimeoutWarning(std::string_view family, int32_t baud,
                                          int bitsPerCharacter, int32_t timeoutMs) {
  const std::optional<AnswerTiming> answer = LargestAnswer(family);
  if (!answer || baud <= 0) return std::nullopt;
  const double wire = WireTimeMs(answer->bytes, baud, bitsPerCharacter);
  const int32_t wait = std::max(timeoutMs, answer->minimumWaitMs) * answer->waits;
  if (wait >= wire) return std::nullopt;
  return fmt::format(
      "tarvo-poll: warning: {} answers of up to {} bytes take {:.0f} ms on the wire at {} baud, "
      "but the time-out of {} ms gives them {} ms: a full answer arrives cut short; raise -t{}\n",
      family, answer->bytes, wire, baud, timeoutMs, wait,
      wire > 2000.0 * answer->waits ? " or the baud rate" : "");
}

}  // namespace tarvo::tools
