// The transfer time-out a host gives as text in PortConfig::TimeoutText.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::serial {

inline constexpr int32_t kDefaultTimeoutMs = 300;
inline constexpr int32_t kMinTimeoutMs = 100;
inline constexpr int32_t kMaxTimeoutMs = 2000;

// The leading decimal number of text (blanks and one sign may precede the
// digits; conversion stops at the first non-digit; no digits is 0) when it
// lies in kMinTimeoutMs..kMaxTimeoutMs, else kDefaultTimeoutMs. Reads at most
// size characters, so an unterminated field is safe.
int32_t TransferTimeout(const char* text, size_t size);

// True when the options after the number name early replies. Options follow
// the first comma of text, separated by commas ("300,early"); blanks around
// an option are ignored, unknown options too. The number itself is read by
// TransferTimeout alone, so an option never changes the time-out. Reads at
// most size characters and stops at a NUL.
bool EarlyRepliesOption(const char* text, size_t size);

}  // namespace tarvo::serial
