// A pseudo-terminal pair with both ends in raw mode: the simulator serves
// the master end, and a driver opens the slave end by its path as it would
// a serial device. A pty ignores baud rate, parity and data bits.
#pragma once

#include <string>

namespace tarvo::sim {

class PtyPair {
 public:
  // Opens the pair; throws std::system_error when the system refuses.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The master end (the module side), or -1 after CloseMaster.
  int master() const { return master_; }
  // Path of the slave end, e.g. /dev/pts/5, for the driver to open.
  const std::string& slavePath() const { return slavePath_; }
  // Hangs up the module side, as a peer that goes away does.
  void CloseMaster();

 private:
  int master_ = -1;
  // Kept open so the pair survives while the driver has not opened it yet
  // and between its opens.
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace tarvo::sim
