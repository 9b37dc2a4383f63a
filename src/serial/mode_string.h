// The line settings as the host codes them (LineSettings), turned into the
// rate and the mode string "COM<port>:<rate>,<settings>" a device builds its
// state from.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo::serial {

// The rate in bit/s of baud code 0..14 (110 to 256000); fallback for any
// other code.
int32_t BaudRateOf(uint32_t code, int32_t fallback);

// The settings text: the parity letter (codes 0..4: o, e, n, m, s), the
// data bits (codes 0, 1: 7, 8) and the stop bits (codes 0, 1: 1, 2), each
// followed by ",". The text ends before the first code out of range, so
// a bad parity code gives "", a bad data-bits code "n," and a bad stop-bits
// code "n,8,".
std::string SettingsText(int16_t parityCode, int16_t dataBitsCode, int16_t stopBitsCode);

// "COM<port>:<rate>,<settings>", e.g. "COM1:9600,n,8,1,".
std::string ModeString(int32_t port, int32_t baudRate, const std::string& settings);

}  // namespace tarvo::serial
