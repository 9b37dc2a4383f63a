// Serves a peer (usually Bus::Peer) on the master end of a pseudo-terminal
// in real time, so a driver that opens the slave end by its path talks to
// simulated modules as over a serial line. A background thread reads what
// the driver writes as it comes, feeds it to the peer with the milliseconds
// of a steady clock since the server started, and writes each answer chunk
// when due, optionally paced at a baud rate.
//
// The driver may close and reopen the slave at any time; the pair keeps the
// slave open itself, so the master sees no hang-up. Bytes written while the
// driver had the slave closed wait in the pty until it reads.
//
// The same server can serve a serial device instead: given an open file
// descriptor, it reads and writes that (the device's own baud rate paces
// the bytes then, so Options::baud is usually 0).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "sim/chunk.h"
#include "sim/pty_pair.h"

namespace tarvo::sim {

class PtyServer {
 public:
  struct Options {
    int baud = 0;    // 0: chunks go whole when due; else 10 bit times per byte
    int tickMs = 2;  // longest sleep between looks at the master and the clock
  };

  // Starts serving at once. `pty` must outlive the server; the peer is
  // called on the server's thread only.
  PtyServer(PtyPair& pty, PeerFunction peer, Options options);
  PtyServer(PtyPair& pty, PeerFunction peer) : PtyServer(pty, std::move(peer), Options{}) {}
  // Serves the open descriptor `fd` (set non-blocking by the server). The
  // caller closes it after the server has stopped; HangUp only stops.
  PtyServer(int fd, PeerFunction peer, Options options);
  // Stop().
  ~PtyServer();
  PtyServer(const PtyServer&) = delete;
  PtyServer& operator=(const PtyServer&) = delete;

  // Stops serving and joins the thread (within about one tick); answers not
  // yet written are dropped. Idempotent.
  void Stop();
  // The module side hangs up: the server stops and closes the master end.
  // The driver's reads of the slave then end in a hang-up.
  void HangUp();

  // Whether the thread still serves (false after Stop, HangUp, or a peer
  // that threw).
  bool serving() const { return serving_; }
  // What the peer threw, if it did; the server stopped then.
  std::string error() const;

 private:
  void Run();

  PtyPair* pty_;  // null when serving a descriptor given by the caller
  int fd_;
  PeerFunction peer_;
  Options options_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> serving_{true};
  mutable std::mutex errorMutex_;
  std::string error_;
  std::thread thread_;
};

}  // namespace tarvo::sim
