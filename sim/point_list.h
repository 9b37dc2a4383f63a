// The answer that lists the sensor points of one channel, shared by the
// families whose modules are scanned channel by channel:
//   ">", the two address digits, one filler byte, the count N as a byte
//   value, the N point numbers as byte values, CR.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "sim/bytes.h"
#include "sim/faults.h"

namespace tarvo::sim {

// `points` in the order listed. The point-list faults of `faults` add to the
// list (and to N): the first point once more (`pointTwice`, when there is
// one), then `extraPoint`. The CR ends the answer for N = 0 as well.
Bytes PointListAnswer(std::string_view digits, uint8_t filler, std::span<const uint8_t> points,
                      const Faults& faults);

}  // namespace tarvo::sim
