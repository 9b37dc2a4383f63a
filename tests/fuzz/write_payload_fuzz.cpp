// A set topic's payload, any bytes: read as a value or refused, and the
// result message made of it is JSON that reads back with the same value.
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string_view>

#include "tools/gateway/write_payload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo::tools;
  const std::string_view payload(reinterpret_cast<const char*>(data), size);
  const WriteRequest request = ParseWritePayload(payload);
  if (!request.value && request.refusal.text.empty()) __builtin_trap();
  if (request.value && *request.value > 1) __builtin_trap();
  // The refusal quotes the payload as the item's name would be: from outside.
  const std::string message =
      WriteResultMessage(payload, request.value, request.refusal, request.value.has_value(),
                         std::chrono::system_clock::time_point{});
  const nlohmann::json answer = nlohmann::json::parse(message, nullptr, false);
  if (answer.is_discarded() || answer["ok"] != request.value.has_value()) __builtin_trap();
  if (request.value && answer["value"] != *request.value) __builtin_trap();
  return 0;
}
