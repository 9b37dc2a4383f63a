#include "tools/gateway/write_payload.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "tools/common/json_text.h"
#include "tools/common/time_text.h"
#include "tools/common/utf8_text.h"
#include "tools/gateway/plant_status.h"
#include "tools/plant/line_poller.h"
#include "tools/plant/poll_session.h"

namespace tarvo::tools {
namespace {

constexpr char kValues[] = "the value must be 0, 1, on or off (or true, false)";

WriteRequest Refused(std::string text) {
  return {std::nullopt, {std::move(text), {}, kValues}, {}};
}

// A value of a JSON write: a switch text, 0 or 1, true or false.
std::optional<uint32_t> JsonValue(const nlohmann::json& value) {
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_number_integer() && (value == 0 || value == 1)) return value.get<uint32_t>();
  if (value.is_string()) return PollSession::SwitchValue(value.get<std::string>());
  return std::nullopt;
}

WriteRequest ParseJsonWrite(std::string_view payload) {
  const nlohmann::json object = nlohmann::json::parse(payload, nullptr, false);
  if (!object.is_object())
    return Refused(fmt::format("{} is not a value to write", QuoteBytes(payload)));
  WriteRequest request;
  auto refuse = [&](std::string text) {
    request.refusal = {std::move(text), {}, kValues};
    return request;
  };
  if (const auto id = object.find("id"); id != object.end()) {
    if (!id->is_string() && !id->is_number())
      return refuse(fmt::format("{}: the \"id\" must be a text or a number", QuoteBytes(payload)));
    request.id = id->dump();
  }
  for (const auto& [key, unused] : object.items())
    if (key != "value" && key != "id")
      return refuse(fmt::format("{}: a write has \"value\" and \"id\", not {}", QuoteBytes(payload),
                                QuoteBytes(key)));
  const auto value = object.find("value");
  if (value == object.end()) return refuse(fmt::format("{} has no \"value\"", QuoteBytes(payload)));
  request.value = JsonValue(*value);
  if (!request.value)
    return refuse(fmt::format("{} is not a value to write", QuoteBytes(value->dump())));
  return request;
}

}  // namespace

WriteRequest ParseWritePayload(std::string_view payload) {
  if (!IsUtf8(payload)) return Refused(fmt::format("{} is not UTF-8 text", QuoteBytes(payload)));
  if (payload.size() > kLongestWritePayload)
    return Refused(fmt::format("{} is too long to be a value", QuoteBytes(payload)));
  std::string_view text = payload;
  const size_t first = text.find_first_not_of(" \t\r\n");
  text = first == std::string_view::npos ? std::string_view() : text.substr(first);
  text = text.substr(0, text.find_last_not_of(" \t\r\n") + 1);
  if (text.starts_with('{')) return ParseJsonWrite(text);
  if (const std::optional<uint32_t> value = PollSession::SwitchValue(std::string(text)))
    return {value, {}, {}};
  return Refused(fmt::format("{} is not a value to write", QuoteBytes(payload)));
}

std::string WriteResultMessage(std::string_view item, std::optional<uint32_t> value,
                               const ExplainedError& outcome, bool ok,
                               std::chrono::system_clock::time_point at, std::string_view id) {
  using Json = nlohmann::ordered_json;
  const std::optional<int> code = CodeOf(outcome);
  Json answer{{"item", item},
              {"value", value ? Json(*value) : Json(nullptr)},
              {"ok", ok},
              {"code", code ? Json(*code) : Json(nullptr)},
              {"error", outcome.text},
              {"gloss", outcome.gloss},
              {"time", IsoTime(at)}};
  if (!id.empty()) answer["id"] = Json::parse(id);
  return JsonText(answer);
}

std::string WriteOutcomeText(std::string_view path, std::string_view id,
                             const ExplainedError& outcome, bool ok) {
  using Json = nlohmann::ordered_json;
  const std::optional<int> code = CodeOf(outcome);
  const char* state = ok                                       ? "written"
                      : outcome.text == SupersededWrite().text ? "superseded"
                                                               : "refused";
  return JsonText(Json{{"id", id.empty() ? Json(nullptr) : Json::parse(id)},
                       {"item", path},
                       {"state", state},
                       {"error", ok ? Json(nullptr) : Json(outcome.text)},
                       {"code", code ? Json(*code) : Json(nullptr)},
                       {"gloss", ok ? Json(nullptr) : Json(outcome.gloss)}});
}

}  // namespace tarvo::tools
