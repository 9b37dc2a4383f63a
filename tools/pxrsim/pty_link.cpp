#include "tools/pxrsim/pty_link.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarvo::tools {
namespace {

std::string Reason() { return std::strerror(errno); }

}  // namespace

PtyLink::PtyLink(std::string link, std::string target)
    : link_(std::move(link)), target_(std::move(target)), lockPath_(link_ + ".lock") {
  lock_ = open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock_ < 0) throw std::runtime_error("cannot create " + lockPath_ + ": " + Reason());
  if (flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    close(lock_);
    throw std::runtime_error("another pxrsim serves " + link_ +
                             "; stop it or choose another path with --link");
  }
  struct stat status {};
  if (lstat(link_.c_str(), &status) == 0 && !S_ISLNK(status.st_mode)) {
    flock(lock_, LOCK_UN);
    close(lock_);
    throw std::runtime_error(link_ +
                             " exists and is not a symlink; choose another path with --link");
  }
  // Made beside the final name and renamed over it: a stale link is replaced
  // in one step.
  const std::string fresh = link_ + ".new" + std::to_string(getpid());
  unlink(fresh.c_str());
  if (symlink(target_.c_str(), fresh.c_str()) != 0 || rename(fresh.c_str(), link_.c_str()) != 0) {
    const std::string reason = Reason();
    unlink(fresh.c_str());
    flock(lock_, LOCK_UN);
    close(lock_);
    throw std::runtime_error("cannot create the symlink " + link_ + ": " + reason);
  }
}

PtyLink::~PtyLink() {
  char buffer[4096];
  const ssize_t n = readlink(link_.c_str(), buffer, sizeof buffer);
  if (n >= 0 && std::string(buffer, static_cast<size_t>(n)) == target_) unlink(link_.c_str());
  unlink(lockPath_.c_str());
  flock(lock_, LOCK_UN);
  close(lock_);
}

}  // namespace tarvo::tools
