// The stable name of a simulator's pseudo-terminal: a symlink (e.g.
// /tmp/pxrsim) to the pty's changing /dev/pts/N path, so a host can be
// pointed at the same path every time. A lock file beside it (PATH.lock,
// held with flock while the simulator runs) tells a second simulator that
// the name is taken; a link left by a simulator that died is replaced.
#pragma once

#include <string>

namespace tarvo::tools {

class PtyLink {
 public:
  // Points `link` at `target`. Throws std::runtime_error with a message for
  // the user when another simulator holds the name, when `link` exists and
  // is not a symlink, or when the link cannot be made.
  PtyLink(std::string link, std::string target);
  // Removes the link (if it still points at the target) and the lock file.
  ~PtyLink();
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;

  const std::string& path() const { return link_; }

 private:
  std::string link_;
  std::string target_;
  std::string lockPath_;
  int lock_ = -1;
};

}  // namespace tarvo::tools
