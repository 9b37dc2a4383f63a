// Line settings in termios terms: the standard speed constants, and the
// raw mode every line runs in (no echo, no CR translation, no signals, no
// output processing, reads that never wait).
#pragma once

#include <termios.h>

#include <cstdint>

#include "serial/device.h"

namespace tarvo::serial {

// The Bnnn constant of rate, or B0 when there is none.
speed_t SpeedOf(uint32_t rate);
// The rate of a Bnnn constant, or 0 for B0 and unknown values.
uint32_t RateOf(speed_t speed);

// Data bits, parity, stop bits and flow control of attributes into *state.
void ReadFraming(const termios& attributes, LineState* state);
// Puts attributes into raw mode with the framing of state (not its rate).
// False for a framing termios cannot express (1.5 stop bits with more than
// 5 data bits).
bool ApplyFraming(const LineState& state, termios* attributes);

}  // namespace tarvo::serial
