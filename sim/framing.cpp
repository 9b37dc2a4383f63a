#include "sim/framing.h"

namespace tarvo::sim {

Frame FrameAddressed(std::span<const uint8_t> head, std::span<const CommandShape> shapes,
                     std::string_view digits) {
  if (head.empty()) return {FrameStatus::kIncomplete, 0};
  for (const CommandShape& shape : shapes) {
    if (head[0] != shape.lead) continue;
    for (size_t i = 0; i < digits.size() && 1 + i < head.size(); ++i) {
      if (head[1 + i] != static_cast<uint8_t>(digits[i])) return {};
    }
    if (head.size() < shape.length) return {FrameStatus::kIncomplete, 0};
    if (head[shape.length - 1] != kCr) return {};
    return {FrameStatus::kComplete, shape.length};
  }
  return {};
}

}  // namespace tarvo::sim
