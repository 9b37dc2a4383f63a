// The POSIX stand-in for the Windows mode-string parser: reads
// "[COM<n>:]<rate>[,<parity>[,<data bits>[,<stop bits>[,<flow>]]]]" as that
// parser does. Letters in any case, blanks around fields. Rate in bit/s or
// abbreviated to its first two digits (11, 15, 30, 60, 12, 24, 48, 96, 19);
// parity n, o, e, m, s; data bits 5 to 8; stop bits 1, 1.5, 2; flow x
// (XON/XOFF) or p (hardware). A field left empty or missing keeps the value
// state had, so "COM1:9600," changes the rate only and "COM1:9600,n,8,1,"
// ends in an empty flow field. Flow control is off unless the text names
// it.
#pragma once

#include "serial/device.h"

namespace tarvo::serial {

// Parses mode into *state. False, with *state unchanged, for text that is
// not a mode string.
bool ParseModeString(const char* mode, LineState* state);

}  // namespace tarvo::serial
