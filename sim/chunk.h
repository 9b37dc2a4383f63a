// What a simulated bus sends back: reply bytes, each piece due a number of
// milliseconds after the command that caused it was received. A line (the
// fake line of the unit tests, or a pseudo-terminal served in real time)
// delivers each chunk when its time has come.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace tarvo::sim {

struct Chunk {
  int64_t delayMs = 0;  // after the command's last byte arrived
  std::vector<uint8_t> bytes;
};

// The peer of a line: given bytes the driver wrote and the time they
// arrived (ms), returns the chunks to deliver. Bytes may hold part of a
// command, one command or several; the peer frames them itself.
using PeerFunction = std::function<std::vector<Chunk>(const uint8_t* bytes, size_t count,
                                                      int64_t nowMs)>;

}  // namespace tarvo::sim
