#include "sim/pty_pair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tarvo::sim {
namespace {

void MakeRaw(int fd) {
  termios attributes{};
  if (tcgetattr(fd, &attributes) != 0) return;
  cfmakeraw(&attributes);
  tcsetattr(fd, TCSANOW, &attributes);
}

}  // namespace

PtyPair::PtyPair() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0)
    throw std::system_error(errno, std::generic_category(), "openpty");
  MakeRaw(master_);
  MakeRaw(slave_);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  slavePath_ = name;
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slave_ >= 0) close(slave_);
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace tarvo::sim
