// Bytes from outside (an MQTT payload, a plant file) as text: whether they
// are UTF-8, and a short, printable quote of them for a log line or a
// message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvo::tools {

// Whether `bytes` are well-formed UTF-8: no overlong forms, no surrogates,
// nothing past U+10FFFF.
bool IsUtf8(std::string_view bytes);

// The length of the well-formed UTF-8 character at `at`, or 0 when the
// bytes there are not one.
size_t Utf8CharLength(std::string_view bytes, size_t at);

// `bytes` in double quotes, at most `limit` bytes of them, cut between
// characters: printable ASCII and well-formed UTF-8 characters past the
// control codes as they are, " and \ escaped with a backslash, every other
// byte as \xNN ("\xff\xfe\x00"). A cut quote ends in ... and says how
// long the whole is: "000000..." (65536 bytes).
std::string QuoteBytes(std::string_view bytes, size_t limit = 32);

}  // namespace tarvo::tools
