// The shapes the pxr5760 exchanges share. Every command ends in CR and
// carries the module address as two lowercase hex digits ("%02x") at bytes
// 1 and 2; an answer is recognised by its first three bytes alone.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "pxr5760/tables.h"

namespace tarvo::pxr5760 {

inline constexpr uint8_t kCarriageReturn = 0x0D;

// The block-read answer: ">" mm, two unexamined bytes, then the records.
inline constexpr size_t kAnswerBufferSize = 2048;
inline constexpr size_t kFirstRecord = 5;
inline constexpr size_t kRecordSize = 4;
// Every channel contributes at most one record per point, so the records
// of the whole module always lie inside the buffer.
static_assert(kFirstRecord + kRecordSize * kChannels * kPoints <= kAnswerBufferSize);

// The two lowercase hex digits of module (0..127).
inline std::array<uint8_t, 2> AddressDigits(uint8_t module) {
  constexpr char kHex[] = "0123456789abcdef";
  return {static_cast<uint8_t>(kHex[module >> 4]), static_cast<uint8_t>(kHex[module & 0x0F])};
}

}  // namespace tarvo::pxr5760
