// The three-number dotted part of an item address, as the bus-point family
// writes it: ".channel.point.sub-index".
#pragma once

#include <cstdint>

namespace tarvo {

// Reads the numbers behind the first ".", behind the next "." after it and
// behind the next "." after that (0 where no digit follows a point). Text
// between and behind the numbers is ignored. Returns false, leaving the
// outputs alone, when any of the three points is missing. The numbers are
// the low 16 bits of their decimal values, as ParseDigitRun gives them.
bool ParsePointAddress3(const char* text, int16_t* first, int16_t* second, int16_t* third);

}  // namespace tarvo
