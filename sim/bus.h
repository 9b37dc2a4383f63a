// A serial bus of simulated modules, one per address, of any families. The
// line feeds it the bytes the driver wrote as they arrive; the bus frames
// them into commands, hands each to the module it is addressed to and
// returns that module's answer as chunks. One bus is the peer of one line.
//
// Framing: at every byte position each module says whether the input there
// is a command for it (take it), the start of one (wait for more bytes),
// or neither. A byte that no module can use is dropped, one at a time, so
// the bus finds the next command right after garbage or a command for an
// address where no module sits. Nothing waits longer than the longest
// command, so garbage never wedges it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "sim/bytes.h"
#include "sim/chunk.h"
#include "sim/exchange_log.h"
#include "sim/module.h"

namespace tarvo::sim {

class Bus {
 public:
  Bus() = default;
  Bus(const Bus&) = delete;
  Bus& operator=(const Bus&) = delete;

  // Adds a module; throws std::invalid_argument when its address is taken.
  // The bus owns it; the reference lives until Remove or the bus's end.
  Module& Add(std::unique_ptr<Module> module);
  template <class M, class... Args>
  M& Emplace(Args&&... args) {
    return static_cast<M&>(Add(std::make_unique<M>(std::forward<Args>(args)...)));
  }
  // The module at `address`, or nullptr.
  Module* Find(int address) const;
  void Remove(int address);

  // Takes `count` bytes that arrived at `nowMs` (any clock, ms) and returns
  // the answers to the commands they completed, in the order of the
  // commands, each chunk due `delayMs` after `nowMs`. Bytes of a command not
  // yet complete are kept for the next call. Serialised by the bus's lock.
  std::vector<Chunk> Feed(const uint8_t* bytes, size_t count, int64_t nowMs);
  // Feed as a PeerFunction for a line; the bus must outlive it.
  PeerFunction Peer();

  // Bytes received and kept as the start of a command.
  size_t pendingBytes() const;

  ExchangeLog& log() { return log_; }
  const ExchangeLog& log() const { return log_; }

  // Feed runs under this lock. Hold it while adding, removing or changing
  // modules (values, faults) when a server thread feeds the bus. Feed must
  // not be called by the holder.
  std::unique_lock<std::mutex> Hold() { return std::unique_lock(mutex_); }

 private:
  void FlushDropped(int64_t nowMs);

  mutable std::mutex mutex_;
  std::map<int, std::unique_ptr<Module>> modules_;
  Bytes pending_;
  Bytes dropped_;
  ExchangeLog log_;
};

}  // namespace tarvo::sim
