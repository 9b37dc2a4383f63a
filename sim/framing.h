// Framing of the commands in the byte stream a bus receives. Every family's
// commands start with one lead character and the module's two address
// digits and have a fixed length that depends on the lead; the last byte is
// a carriage return. Bytes in between may be anything (an output byte of
// 0x0D included), so a command is never framed by searching for CR.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "sim/bytes.h"

namespace tarvo::sim {

enum class FrameStatus {
  kNotMine,     // the head cannot start a command for this module
  kIncomplete,  // the head is a proper prefix of such a command
  kComplete,    // the head starts with a whole command of `length` bytes
};

struct Frame {
  FrameStatus status = FrameStatus::kNotMine;
  size_t length = 0;  // bytes of the command when complete, else 0
};

// One kind of command: its lead character and its total length in bytes,
// the final CR included.
struct CommandShape {
  uint8_t lead;
  size_t length;
};

// Frames `head` against commands of the given shapes whose bytes 1 and 2 are
// exactly `digits` (compared case-sensitively) and whose last byte is CR.
// Needs at most the longest shape's length to decide.
Frame FrameAddressed(std::span<const uint8_t> head, std::span<const CommandShape> shapes,
                     std::string_view digits);

}  // namespace tarvo::sim
