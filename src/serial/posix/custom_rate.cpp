#include "serial/posix/custom_rate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tarvo::serial {

bool SetCustomRate(int fd, uint32_t rate) {
  termios2 attributes{};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return false;
  attributes.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
  attributes.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
  attributes.c_ispeed = rate;
  attributes.c_ospeed = rate;
  return ioctl(fd, TCSETS2, &attributes) == 0;
}

bool GetCustomRate(int fd, uint32_t* rate) {
  termios2 attributes{};
  if (ioctl(fd, TCGETS2, &attributes) != 0) return false;
  *rate = attributes.c_ospeed;
  return true;
}

}  // namespace tarvo::serial
