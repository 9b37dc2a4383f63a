#include "serial/posix/posix_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <string>

#include "serial/clock.h"
#include "serial/device.h"
#include "serial/posix/custom_rate.h"
#include "serial/posix/parse_mode_string.h"
#include "serial/posix/termios_state.h"

namespace tarvo::serial {

std::unique_ptr<Device> PosixDevice::Open(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  // A serial line has one user. Systems without the lock still open.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<Device>(new PosixDevice(fd));
}

PosixDevice::PosixDevice(int fd) : fd_(fd) { restore_ = tcgetattr(fd_, &original_) == 0; }

PosixDevice::~PosixDevice() { Close(); }

bool PosixDevice::SetTimeouts(const LineTimeouts& timeouts) {
  // Read time-outs that are all ones in every field are refused, as the
  // Windows serial driver refuses them.
  if (timeouts.readInterval == kMaxTimeout && timeouts.readTotalMultiplier == kMaxTimeout &&
      timeouts.readTotalConstant == kMaxTimeout)
    return false;
  if (fcntl(fd_, F_GETFD) < 0) return false;
  timeouts_ = timeouts;
  return true;
}

bool PosixDevice::GetState(LineState* state) {
  termios attributes{};
  if (tcgetattr(fd_, &attributes) != 0) return false;
  uint32_t rate = RateOf(cfgetospeed(&attributes));
  if (rate == 0 && !GetCustomRate(fd_, &rate)) rate = 0;
  state->baudRate = rate;
  ReadFraming(attributes, state);
  // Devices without modem lines (pseudo-terminals) report none raised.
  int lines = 0;
  if (ioctl(fd_, TIOCMGET, &lines) != 0) lines = 0;
  state->dtrEnabled = (lines & TIOCM_DTR) != 0;
  state->rtsEnabled = (lines & TIOCM_RTS) != 0;
  return true;
}

bool PosixDevice::BuildState(const char* mode, LineState* state) {
  return ParseModeString(mode, state);
}

bool PosixDevice::SetState(const LineState& state) {
  termios attributes{};
  if (tcgetattr(fd_, &attributes) != 0) return false;
  if (!ApplyFraming(state, &attributes)) return false;
  if (state.baudRate == 0) return false;
  const speed_t speed = SpeedOf(state.baudRate);
  if (speed != B0 && (cfsetispeed(&attributes, speed) != 0 || cfsetospeed(&attributes, speed) != 0))
    return false;
  if (tcsetattr(fd_, TCSANOW, &attributes) != 0) return false;
  if (speed == B0 && !SetCustomRate(fd_, state.baudRate)) return false;
  // Pseudo-terminals and some adapters have no modem lines and refuse
  // these requests; the line works without them.
  int lines = 0;
  if (state.dtrEnabled) lines |= TIOCM_DTR;
  if (state.rtsEnabled) lines |= TIOCM_RTS;
  if (lines != 0) ioctl(fd_, TIOCMBIS, &lines);
  int dropped = (TIOCM_DTR | TIOCM_RTS) & ~lines;
  if (dropped != 0) ioctl(fd_, TIOCMBIC, &dropped);
  return true;
}

// The kernel sizes a tty's queues itself.
bool PosixDevice::SetupQueues(uint32_t, uint32_t) { return true; }

bool PosixDevice::Purge(uint32_t flags) {
  // Transfers are never left pending here, so the abort flags have nothing
  // to abort.
  const bool input = (flags & kPurgeRxClear) != 0;
  const bool output = (flags & kPurgeTxClear) != 0;
  if (!input && !output) return true;
  return tcflush(fd_, input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH) == 0;
}

bool PosixDevice::ClearError(uint32_t* queued) {
  int count = 0;
  // Fails on a line whose other end hung up.
  if (ioctl(fd_, FIONREAD, &count) != 0) return false;
  *queued = count > 0 ? static_cast<uint32_t>(count) : 0u;
  return true;
}

bool PosixDevice::Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs) {
  // The line's own write time-out bounds the transfer too, as on Windows.
  if (timeouts_.writeTotalConstant != 0)
    timeoutMs = std::min(timeoutMs, timeouts_.writeTotalConstant);
  Clock& clock = CurrentClock();
  const int64_t deadline = clock.NowMs() + timeoutMs;
  uint32_t done = 0;
  while (done < count) {
    const ssize_t written = ::write(fd_, bytes + done, count - done);
    if (written > 0) {
      done += static_cast<uint32_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const int64_t left = deadline - clock.NowMs();
    if (left <= 0) break;
    pollfd writable{fd_, POLLOUT, 0};
    const int ready = poll(&writable, 1, static_cast<int>(std::min<int64_t>(left, INT_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    if ((writable.revents & POLLOUT) == 0) return false;  // hung up or failed
  }
  if (done == count) return true;
  // What did not go out in time is cancelled, not sent later.
  tcflush(fd_, TCOFLUSH);
  return false;
}

bool PosixDevice::Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t) {
  // Reads take what is there and never wait: the caller has already given
  // the module its time.
  uint32_t done = 0;
  while (done < count) {
    const ssize_t read = ::read(fd_, buffer + done, count - done);
    if (read > 0) {
      done += static_cast<uint32_t>(read);
      continue;
    }
    if (read < 0 && errno == EINTR) continue;
    if (read < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (read == 0 && done > 0) break;
    return false;  // hung up before anything came, or failed
  }
  *got = done;
  return true;
}

bool PosixDevice::WaitForInput(uint32_t timeoutMs) {
  pollfd readable{fd_, POLLIN, 0};
  const int ready = poll(&readable, 1, static_cast<int>(std::min<uint32_t>(timeoutMs, INT_MAX)));
  // A signal ends the wait early, which the caller allows for.
  if (ready < 0) return errno == EINTR;
  // A line that hung up or failed reports so at once: no wait there.
  return ready == 0 || (readable.revents & POLLIN) != 0;
}

void PosixDevice::Close() {
  if (fd_ < 0) return;
  // Nothing queued outlives the line, and the tty goes back to the
  // settings it had before.
  tcflush(fd_, TCIOFLUSH);
  if (restore_) tcsetattr(fd_, TCSANOW, &original_);
  ::close(fd_);
  fd_ = -1;
}

namespace {

class PosixPlatform final : public Platform {
 public:
  std::unique_ptr<Device> OpenDevice(int32_t port) override {
    if (port < kFirstPort || port > kLastPort) return nullptr;
    return PosixDevice::Open(PortDevice(port));
  }
};

}  // namespace

Platform& SystemPlatform() {
  static PosixPlatform platform;
  return platform;
}

namespace {
// Hosts may map ports while other threads open lines.
struct PortMap {
  std::mutex mutex;
  std::map<int32_t, std::string> paths;
};
PortMap& Mapped() {
  static PortMap mapped;
  return mapped;
}
}  // namespace

bool SetPortDevice(int32_t port, const char* path) {
  if (port < kFirstPort || port > kLastPort) return false;
  PortMap& mapped = Mapped();
  std::lock_guard<std::mutex> lock(mapped.mutex);
  if (path == nullptr || *path == '\0')
    mapped.paths.erase(port);
  else
    mapped.paths[port] = path;
  return true;
}

std::string PortDevice(int32_t port) {
  PortMap& mapped = Mapped();
  {
    std::lock_guard<std::mutex> lock(mapped.mutex);
    const auto found = mapped.paths.find(port);
    if (found != mapped.paths.end()) return found->second;
  }
  return "/dev/ttyS" + std::to_string(port - 1);
}

}  // namespace tarvo::serial
