#include "tools/plant/port_problem.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvo::tools {

std::string DescribeDeviceProblem(const std::string& path) {
  // Opened as the library opens it, without touching the line's settings.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT)
      return fmt::format(
          "{} does not exist (is the adapter plugged in? dmesg names the device it got)", path);
    if (error == EACCES)
      return fmt::format(
          "permission denied on {}: add your user to the group dialout (sudo adduser $USER "
          "dialout) and log in again",
          path);
    if (error == EBUSY) return fmt::format("{} is in use by another program", path);
    return fmt::format("{}: {}", path, std::strerror(error));
  }
  std::string problem;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    problem = fmt::format("{} is in use by another program", path);
  ::close(fd);
  return problem;
}

}  // namespace tarvo::tools
