// How a caller tells the port when the answer to its command is whole: a
// rule that looks at the bytes of the answer received so far and names the
// answer's full length. The port uses it only in early-reply mode (see
// Port::ReadReply); in the default mode a read waits its full time-out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace tarvo::serial {

// The rule has not seen enough bytes to know the length yet.
inline constexpr size_t kReplyLengthUnknown = 0;
// The bytes so far cannot start the expected answer (a wrong head, say): it
// will never be whole, so the read takes the default mode's time.
inline constexpr size_t kReplyNeverWhole = SIZE_MAX;

// Given the bytes received so far (possibly none), returns the whole
// answer's length in bytes, kReplyLengthUnknown or kReplyNeverWhole. Must
// look at no byte beyond the span. An empty rule means "never known".
using ReplyRule = std::function<size_t(std::span<const uint8_t> received)>;

}  // namespace tarvo::serial
