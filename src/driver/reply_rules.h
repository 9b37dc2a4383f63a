// The lengths of the answers the families' exchanges wait for, as rules an
// early-reply read can use (serial/reply_rule.h). Every rule first checks
// the answer's head, as far as it has arrived, against the expected bytes:
// an answer with another head will never be the whole answer expected. The
// lengths come only from what the caller knows (a fixed size, a record
// count it holds) or from the answer's own count byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "serial/reply_rule.h"

namespace tarvo {

// An answer of a fixed length that starts with head (copied; at most 4
// bytes are used).
serial::ReplyRule FixedReply(std::span<const uint8_t> head, size_t length);

// A block-read answer: head, two bytes not examined, then `records` 4-byte
// records from byte 5 on, and no end byte.
serial::ReplyRule RecordsReply(std::span<const uint8_t> head, size_t records);

// A point list: head, one byte, the count n at byte 4, n point numbers and
// the CR at byte 5 + n (6 + n bytes). The CR is waited for also when n is 0:
// a module that leaves it off then takes the full time-out, but a CR still
// on its way when the next command is sent would head that command's answer.
serial::ReplyRule PointListReply(std::span<const uint8_t> head);

}  // namespace tarvo
