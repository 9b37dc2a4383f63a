// A write as it comes from MQTT: the payload of an item's set topic read
// as a value to write or refused with the reason, and the message its
// result topic answers with. Any bytes of any length are an answer, never
// an exception. A payload may be JSON, {"value": 1, "id": "..."}: the
// answer carries the id, so that a writer can tell its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tools/common/error_glosses.h"

namespace tarvo::tools {

// The longest payload read as a value; a longer one is refused unread.
inline constexpr size_t kLongestWritePayload = 256;

struct WriteRequest {
  std::optional<uint32_t> value;  // nothing: refused
  ExplainedError refusal;         // why, when refused
  std::string id;                 // the JSON payload's "id" as JSON text; empty: none
};

// Where a write is answered besides its item's result topic, and how the
// writer knows the answer: the payload's id, the MQTT v5 response topic
// and correlation data.
struct WriteReply {
  std::string id;  // JSON text
  std::string responseTopic;
  std::string correlation;
  // Told the outcome, on whichever thread answers (a write over HTTP
  // waits for it): the value (nothing for a refused request), the outcome.
  std::function<void(std::optional<uint32_t>, const ExplainedError&, bool ok)> answered;
};

// 0, 1, on, off, true or false in any case, with white space around it,
// or a JSON object {"value": V, "id": ID} where V is one of those, a
// number 0 or 1 or a JSON boolean, and ID (optional) a text or a number.
// A payload that is not UTF-8, too long, or another text is refused, the
// refusal quoting at most its first bytes, escaped; a refused object's id
// is kept when it can be read.
WriteRequest ParseWritePayload(std::string_view payload);

// The result topic's message: {"item", "value", "ok", "code", "error",
// "gloss", "time"}, value null for a refused payload, and "id" when the
// write gave one.
std::string WriteResultMessage(std::string_view item, std::optional<uint32_t> value,
                               const ExplainedError& outcome, bool ok,
                               std::chrono::system_clock::time_point at, std::string_view id = {});

// A write's outcome as the HTTP API answers it and its "write" event
// gives it: {"id", "item" (line/item), "state": "written", "refused" or
// "superseded", "error", "code", "gloss"}; id null when the write gave none.
std::string WriteOutcomeText(std::string_view path, std::string_view id,
                             const ExplainedError& outcome, bool ok);

}  // namespace tarvo::tools
