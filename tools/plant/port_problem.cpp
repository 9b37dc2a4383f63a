#include "tools/plant/port_problem.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tarvo::tools {
namespace {

std::string UserName(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

bool InGroup(gid_t gid) {
  if (getegid() == gid) return true;
  const int count = getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
  if (count <= 0 || getgroups(count, groups.data()) != count) return false;
  for (gid_t g : groups)
    if (g == gid) return true;
  return false;
}

// No one at a terminal to log in again: a unit of systemd, or no
// controlling terminal (cron, a daemon).
bool RunAsService() {
  if (std::getenv("INVOCATION_ID") != nullptr) return true;
  const int tty = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (tty < 0) return true;
  ::close(tty);
  return false;
}

// "crw-rw----"
std::string ModeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISREG(mode) ? "-" : "?";
  const char letters[] = "rwx";
  for (int bit = 8; bit >= 0; --bit)
    text += (mode & (1u << bit)) != 0 ? letters[(8 - bit) % 3] : '-';
  return text;
}

std::string PermissionProblem(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return fmt::format("permission denied on {}", path);
  return PermissionAdvice({path, UserName(status.st_uid), GroupName(status.st_gid), status.st_mode,
                           UserName(geteuid()), InGroup(status.st_gid), RunAsService()});
}

}  // namespace

std::string PermissionAdvice(const DeviceAccess& a) {
  const std::string head =
      fmt::format("permission denied on {} ({} {} {})", a.path, ModeText(a.mode), a.owner, a.group);
  const bool groupMay = (a.mode & S_IRGRP) != 0 && (a.mode & S_IWGRP) != 0;
  if (groupMay && !a.inGroup && a.service)
    return fmt::format(
        "{}: add the user it runs as ({}) to the group {} (sudo adduser {} {}; in a systemd unit "
        "SupplementaryGroups={}) and start it again",
        head, a.user, a.group, a.user, a.group, a.group);
  if (groupMay && !a.inGroup)
    return fmt::format("{}: add your user to the group {} (sudo adduser $USER {}) and log in again",
                       head, a.group, a.group);
  if (groupMay)
    return fmt::format(
        "{}: this process is in the group {} and the mode lets it in; something else refuses it "
        "(an access list, a security module or a container)",
        head, a.group);
  return fmt::format(
      "{}: only {} may read and write it; a udev rule can give the group read and write "
      "(MODE=\"0660\")",
      head, a.owner);
}

std::string DescribeDeviceProblem(const std::string& path) {
  // Opened as the library opens it, without touching the line's settings.
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT)
      return fmt::format(
          "{} does not exist (is the adapter plugged in? dmesg names the device it got)", path);
    if (error == EACCES) return PermissionProblem(path);
    if (error == EBUSY) return fmt::format("{} is in use by another program", path);
    return fmt::format("{}: {}", path, std::strerror(error));
  }
  std::string problem;
  struct stat status {};
  if (isatty(fd) != 1) {
    problem = fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                  ? fmt::format("{} is a regular file, not a serial device", path)
                  : fmt::format("{} is not a serial device", path);
  } else if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    problem = fmt::format("{} is in use by another program", path);
  }
  ::close(fd);
  return problem;
}

}  // namespace tarvo::tools
