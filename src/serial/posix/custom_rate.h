// Line rates that have no Bnnn constant (14400, 56000, 128000, 256000, ...),
// set and read through the kernel's termios2 interface. Kept apart because
// its kernel header clashes with <termios.h>.
#pragma once

#include <cstdint>

namespace tarvo::serial {

// Sets both directions of the tty fd to rate bit/s.
bool SetCustomRate(int fd, uint32_t rate);
// The output rate of the tty fd in bit/s.
bool GetCustomRate(int fd, uint32_t* rate);

}  // namespace tarvo::serial
