// The 5-byte commands of the sensor modules: a lead character, the module
// address as two upper-case hexadecimal digits, one character, CR. Answers
// are recognised by their lead character and the same two digits.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarvo::pxr530x {

using Command = std::array<uint8_t, 5>;

inline constexpr uint8_t kCarriageReturn = 0x0D;

// lead, "%02X" of module (0..127), last, CR.
inline Command MakeCommand(char lead, uint8_t module, char last) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  return {static_cast<uint8_t>(lead), static_cast<uint8_t>(kDigits[module >> 4]),
          static_cast<uint8_t>(kDigits[module & 0x0F]), static_cast<uint8_t>(last),
          kCarriageReturn};
}

// The head an answer to command starts with: lead and the address digits.
inline std::array<uint8_t, 3> AnswerHead(char lead, const Command& command) {
  return {static_cast<uint8_t>(lead), command[1], command[2]};
}

// Whether answer begins with lead and the address digits of command
// (compared case-sensitively). answer holds at least 3 bytes.
inline bool HasHead(std::span<const uint8_t> answer, char lead, const Command& command) {
  return answer[0] == static_cast<uint8_t>(lead) && answer[1] == command[1] &&
         answer[2] == command[2];
}

}  // namespace tarvo::pxr530x
