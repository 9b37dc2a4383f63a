#include "serial/posix/termios_state.h"

namespace tarvo::serial {
namespace {

struct SpeedEntry {
  uint32_t rate;
  speed_t speed;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000},
};

}  // namespace

speed_t SpeedOf(uint32_t rate) {
  for (const SpeedEntry& entry : kSpeeds)
    if (entry.rate == rate) return entry.speed;
  return B0;
}

uint32_t RateOf(speed_t speed) {
  for (const SpeedEntry& entry : kSpeeds)
    if (entry.speed == speed) return entry.rate;
  return 0;
}

void ReadFraming(const termios& attributes, LineState* state) {
  switch (attributes.c_cflag & CSIZE) {
    case CS5:
      state->dataBits = 5;
      break;
    case CS6:
      state->dataBits = 6;
      break;
    case CS7:
      state->dataBits = 7;
      break;
    default:
      state->dataBits = 8;
      break;
  }
  const tcflag_t c = attributes.c_cflag;
  if ((c & PARENB) == 0)
    state->parity = Parity::None;
  else if ((c & CMSPAR) != 0)
    state->parity = (c & PARODD) != 0 ? Parity::Mark : Parity::Space;
  else
    state->parity = (c & PARODD) != 0 ? Parity::Odd : Parity::Even;
  state->stopBits = (c & CSTOPB) == 0      ? StopBits::One
                    : state->dataBits == 5 ? StopBits::OnePointFive
                                           : StopBits::Two;
  if ((c & CRTSCTS) != 0)
    state->flow = FlowControl::Hardware;
  else if ((attributes.c_iflag & (IXON | IXOFF)) != 0)
    state->flow = FlowControl::XonXoff;
  else
    state->flow = FlowControl::None;
}

bool ApplyFraming(const LineState& state, termios* attributes) {
  tcflag_t size = CS8;
  switch (state.dataBits) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  // A UART sends 1.5 stop bits for 5-bit characters when asked for two.
  if (state.stopBits == StopBits::OnePointFive && state.dataBits != 5) return false;

  termios& a = *attributes;
  a.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY |
                 INPCK | IMAXBEL);
  a.c_oflag &= ~OPOST;
  a.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
  a.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  a.c_cflag |= size | CREAD | CLOCAL;
  switch (state.parity) {
    case Parity::None:
      break;
    case Parity::Odd:
      a.c_cflag |= PARENB | PARODD;
      break;
    case Parity::Even:
      a.c_cflag |= PARENB;
      break;
    case Parity::Mark:
      a.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case Parity::Space:
      a.c_cflag |= PARENB | CMSPAR;
      break;
  }
  if (state.stopBits != StopBits::One) a.c_cflag |= CSTOPB;
  if (state.flow == FlowControl::Hardware) a.c_cflag |= CRTSCTS;
  if (state.flow == FlowControl::XonXoff) a.c_iflag |= IXON | IXOFF;
  // Reads return at once with what is there.
  a.c_cc[VMIN] = 0;
  a.c_cc[VTIME] = 0;
  return true;
}

}  // namespace tarvo::serial
