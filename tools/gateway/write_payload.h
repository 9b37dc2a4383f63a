// A write as it comes from MQTT: the payload of an item's set topic read
// as a value to write or refused with the reason, and the message its
// result topic answers with. Any bytes of any length are an answer, never
// an exception.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/common/error_glosses.h"

namespace tarvo::tools {

// The longest payload read as a value; a longer one is refused unread.
inline constexpr size_t kLongestWritePayload = 64;

struct WriteRequest {
  std::optional<uint32_t> value;  // nothing: refused
  ExplainedError refusal;         // why, when refused
};

// 0, 1, on, off, true or false in any case, with white space around it.
// A payload that is not UTF-8, too long, or another text is refused, the
// refusal quoting at most its first bytes, escaped.
WriteRequest ParseWritePayload(std::string_view payload);

// The result topic's message: {"item", "value", "ok", "code", "error",
// "gloss", "time"}, value null for a refused payload.
std::string WriteResultMessage(std::string_view item, std::optional<uint32_t> value,
                               const ExplainedError& outcome, bool ok,
                               std::chrono::system_clock::time_point at);

}  // namespace tarvo::tools
