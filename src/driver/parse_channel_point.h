// Parsers of the numeric parts of item addresses, shared by the families.
#pragma once

#include <cstdint>

namespace tarvo {

// Value of the decimal digit run starting at text, modulo 2^16, so a run of
// any length yields its low 16 bits; *end (if given) receives the first
// character after the run. No digits give 0.
uint16_t ParseDigitRun(const char* text, const char** end = nullptr);

// Reads the dotted part of an address: the numbers behind the first "." and
// behind the next "." after it (0 where no digit follows a point). Text
// between and behind the numbers is ignored. Returns false, leaving the
// outputs alone, when there is no first point, nothing after it, or no
// second point. The numbers are the low 16 bits of their decimal values.
bool ParseChannelPoint(const char* text, int16_t* first, int16_t* second);

}  // namespace tarvo
