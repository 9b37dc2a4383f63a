// How long the largest answer of a family takes on the wire, the time-out
// that lets it arrive whole, and the warning when a time-out cannot. The
// driver reads what has arrived when its waits are over; an answer still on
// the wire then is cut short and the read fails.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

// The driver's range of transfer time-outs, in ms.
inline constexpr int32_t kMinTimeoutMs = 100;
inline constexpr int32_t kMaxTimeoutMs = 2000;

// By family name ("pxr5100", ...); nothing for a name not known.
std::optional<AnswerTiming> LargestAnswer(std::string_view family);

// Milliseconds that bytes take at baud with bitsPerCharacter per byte
// (start, data, parity and stop bits: 10 for 8N1).
double WireTimeMs(int32_t bytes, int32_t baud, int bitsPerCharacter);

// The smallest time-out (kMinTimeoutMs..kMaxTimeoutMs) whose waits hold the
// exchange of the family's largest answer at baud: its command's and its
// own wire time and the module's turnaround; kMaxTimeoutMs when none
// does (TimeoutWarning then says so). kMinTimeoutMs for an unknown family.
int32_t FittingTimeoutMs(std::string_view family, int32_t baud, int bitsPerCharacter);

// The warning tarvo-poll prints when the waits a time-out of timeoutMs
// gives are shorter than the exchange of the family's largest answer, or
// nothing when they suffice. It names the remedy: the time-out that fits,
// or where none does, a higher baud rate or fewer points on the module.
std::optional<std::string> TimeoutWarning(std::string_view family, int32_t baud,
                                          int bitsPerCharacter, int32_t timeoutMs);

}  // namespace tarvo::tools
