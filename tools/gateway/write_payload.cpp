#include "tools/gateway/write_payload.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "tools/common/json_text.h"
#include "tools/common/time_text.h"
#include "tools/common/utf8_text.h"
#include "tools/gateway/plant_status.h"
#include "tools/plant/poll_session.h"

namespace tarvo::tools {
namespace {

constexpr char kValues[] = "the value must be 0, 1, on or off (or true, false)";

WriteRequest Refused(std::string text) { return {std::nullopt, {std::move(text), {}, kValues}}; }

}  // namespace

WriteRequest ParseWritePayload(std::string_view payload) {
  if (!IsUtf8(payload)) return Refused(fmt::format("{} is not UTF-8 text", QuoteBytes(payload)));
  if (payload.size() > kLongestWritePayload)
    return Refused(fmt::format("{} is too long to be a value", QuoteBytes(payload)));
  std::string_view text = payload;
  const size_t first = text.find_first_not_of(" \t\r\n");
  text = first == std::string_view::npos ? std::string_view() : text.substr(first);
  text = text.substr(0, text.find_last_not_of(" \t\r\n") + 1);
  if (const std::optional<uint32_t> value = PollSession::SwitchValue(std::string(text)))
    return {value, {}};
  return Refused(fmt::format("{} is not a value to write", QuoteBytes(payload)));
}

std::string WriteResultMessage(std::string_view item, std::optional<uint32_t> value,
                               const ExplainedError& outcome, bool ok,
                               std::chrono::system_clock::time_point at) {
  using Json = nlohmann::ordered_json;
  const std::optional<int> code = CodeOf(outcome);
  const Json answer{{"item", item},
                    {"value", value ? Json(*value) : Json(nullptr)},
                    {"ok", ok},
                    {"code", code ? Json(*code) : Json(nullptr)},
                    {"error", outcome.text},
                    {"gloss", outcome.gloss},
                    {"time", IsoTime(at)}};
  return JsonText(answer);
}

}  // namespace tarvo::tools
