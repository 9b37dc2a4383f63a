// The decimal text of a numeric channel as a value.
#pragma once

#include <cstddef>

namespace tarvo::pxr5700 {

// The number at the start of the length characters at text: blanks (space,
// tab, line feed, vertical tab, form feed, carriage return), an optional sign,
// digits with an optional decimal point, an optional exponent ("e" or "E",
// optional sign, digits). No digit gives 0. Reads nothing beyond length
// characters and stops at a NUL; the decimal point is always ".", whatever
// locale the process runs in. A value beyond the float range is +-infinity,
// one below it 0 (sign kept).
float ParseNumericText(const char* text, size_t length);

}  // namespace tarvo::pxr5700
