#include "tools/pxrsim/serial_device.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarvo::tools {
namespace {

speed_t Speed(int baud) {
  switch (baud) {
    case 110:
      return B110;
    case 300:
      return B300;
    case 600:
      return B600;
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    default:
      return B0;
  }
}

}  // namespace

int OpenSerialDevice(const std::string& path, const DeviceSettings& s) {
  const speed_t speed = Speed(s.baud);
  if (speed == B0)
    throw std::runtime_error("baud rate " + std::to_string(s.baud) +
                             " cannot be set on a serial device here; use 110 to 115200 or 230400");
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  termios t{};
  if (tcgetattr(fd, &t) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error(path + " is not a serial device: " + reason);
  }
  cfmakeraw(&t);
  cfsetispeed(&t, speed);
  cfsetospeed(&t, speed);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= s.dataBits == 7 ? CS7 : CS8;
  if (s.stopBits == 2) t.c_cflag |= CSTOPB;
  if (s.parity == "even") t.c_cflag |= PARENB;
  if (s.parity == "odd") t.c_cflag |= PARENB | PARODD;
  if (s.parity == "mark") t.c_cflag |= PARENB | CMSPAR | PARODD;
  if (s.parity == "space") t.c_cflag |= PARENB | CMSPAR;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    const std::string reason = std::strerror(errno);
    close(fd);
    throw std::runtime_error("cannot set " + path + ": " + reason);
  }
  tcflush(fd, TCIOFLUSH);
  return fd;
}

}  // namespace tarvo::tools
