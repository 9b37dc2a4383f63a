// The host's port settings in its own terms: the transfer time-out given as
// text in PortConfig::TimeoutText, and the line settings as the host codes
// them (LineSettings), turned into the rate and the mode string
// "COM<port>:<rate>,<settings>" a device builds its state from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// The line settings as the host codes them (LineSettings), turned into the
// rate and the mode string "COM<port>:<rate>,<settings>" a device builds its
// state from.
// The rate in bit/s of baud code 0..14 (110 to 256000); fallback for any
// other code.
int32_t BaudRateOf(uint32_t code, int32_t fallback);

// The settings text: the parity letter (codes 0..4: o, e, n, m, s), the
// data bits (codes 0, 1: 7, 8) and the stop bits (codes 0, 1: 1, 2), each
// followed by ",". The text ends before the first code out of range, so
// a bad parity code gives "", a bad data-bits code "n," and a bad stop-bits
// code "n,8,".
std::string SettingsText(int16_t parityCode, int16_t dataBitsCode, int16_t stopBitsCode);

// "COM<port>:<rate>,<settings>", e.g. "COM1:9600,n,8,1,".
std::string ModeString(int32_t port, int32_t baudRate, const std::string& settings);

}  // namespace tarvo::serial
