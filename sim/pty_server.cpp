#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <exception>

#include "sim/output_schedule.h"

namespace tarvo::sim {
namespace {

int64_t NowUs(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

PtyServer::PtyServer(PtyPair& pty, PeerFunction peer, Options options)
    : pty_(&pty), fd_(pty.master()), peer_(std::move(peer)), options_(options) {
  thread_ = std::thread([this] { Run(); });
}

PtyServer::PtyServer(int fd, PeerFunction peer, Options options)
    : pty_(nullptr), fd_(fd), peer_(std::move(peer)), options_(options) {
  thread_ = std::thread([this] { Run(); });
}

PtyServer::~PtyServer() { Stop(); }

void PtyServer::Stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  serving_ = false;
}

void PtyServer::HangUp() {
  Stop();
  // The thread has ended, so the master is no longer in use.
  if (pty_ != nullptr) pty_->CloseMaster();
}

std::string PtyServer::error() const {
  std::lock_guard lock(errorMutex_);
  return error_;
}

void PtyServer::Run() {
  const int master = fd_;
  // Never block on the master: a driver that does not read must not keep
  // Stop from joining.
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  const auto start = std::chrono::steady_clock::now();
  const int64_t tickUs = std::max(options_.tickMs, 1) * 1000;
  OutputSchedule schedule(options_.baud);
  uint8_t buffer[512];
  bool blocked = false;

  while (!stop_) {
    int64_t now = NowUs(start);
    int64_t waitUs = tickUs;
    if (auto next = schedule.NextUs(); next && !blocked) {
      // The bytes due within a tick go together, but the chunk's last one
      // on time.
      const int64_t wake = std::min(std::max(*next, now + tickUs), *schedule.NextChunkEndUs());
      waitUs = std::clamp<int64_t>(wake - now, 0, tickUs);
    }
    pollfd fd{master, static_cast<short>(POLLIN | (blocked ? POLLOUT : 0)), 0};
    const timespec wait{static_cast<time_t>(waitUs / 1'000'000),
                        static_cast<long>(waitUs % 1'000'000 * 1000)};
    const int ready = ppoll(&fd, 1, &wait, nullptr);
    if (ready > 0 && (fd.revents & POLLIN)) {
      const ssize_t n = read(master, buffer, sizeof buffer);
      if (n > 0) {
        now = NowUs(start);
        try {
          schedule.Add(peer_(buffer, static_cast<size_t>(n), now / 1000), now);
        } catch (const std::exception& e) {
          std::lock_guard lock(errorMutex_);
          error_ = e.what();
          break;
        } catch (...) {
          std::lock_guard lock(errorMutex_);
          error_ = "the peer threw";
          break;
        }
      }
    } else if (ready > 0 && !(fd.revents & POLLOUT)) {
      // A hang-up or error with nothing to read returns at once; do not spin.
      usleep(static_cast<useconds_t>(tickUs));
    }
    now = NowUs(start);
    Bytes out = schedule.Take(now);
    if (!out.empty()) {
      const ssize_t written = write(master, out.data(), out.size());
      const size_t sent = written > 0 ? static_cast<size_t>(written) : 0;
      // The pty's queue is full while the driver does not read: wait for room.
      blocked = sent < out.size();
      schedule.PutBack(Bytes(out.begin() + sent, out.end()), now);
    }
  }
  serving_ = false;
}

}  // namespace tarvo::sim
