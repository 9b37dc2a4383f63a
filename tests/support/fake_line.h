// An in-memory serial line for tests: the device a driver object opens, and
// at its far end a peer (a sim::PeerFunction, usually the simulator) that
// answers what is written. Time is the installed clock's (the fake clock in
// unit tests).
//
// Each write goes to the peer with the current time; each chunk the peer
// returns arrives delayMs later. The input queue holds the bytes whose time
// has come; a receive purge drops only those, so bytes still on their way
// arrive afterwards, as on a real line. Every device call can be made to
// fail, once or from some call on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/device.h"
#include "sim/chunk.h"

namespace tarvo::test {

// The device calls a fault can hit; Open is the device open itself.
enum class FakeOp {
  Open,
  SetTimeouts,
  GetState,
  BuildState,
  SetState,
  SetupQueues,
  Purge,
  Write,
  Read,
  ClearError,
};
inline constexpr int kFakeOpCount = 10;

struct FakeWrite {
  int64_t atMs;
  std::vector<uint8_t> bytes;
};

class FakeLine : public std::enable_shared_from_this<FakeLine> {
 public:
  FakeLine();

  // The far end. Without a peer nothing ever answers.
  void SetPeer(sim::PeerFunction peer) { peer_ = std::move(peer); }
  // Bytes the far end sends on its own, arriving delayMs from now.
  void Deliver(const std::vector<uint8_t>& bytes, int64_t delayMs = 0);

  // Faults. Calls are counted per operation from the line's creation; n = 1
  // is the next call.
  void FailNext(FakeOp op, int n = 1);  // that one call only
  void FailFrom(FakeOp op, int n = 1);  // that call and every later one
  void Heal(FakeOp op);
  // The device does not exist: every open fails.
  void SetMissing(bool missing) { missing_ = missing; }
  // Makes the queued count report extra bytes that are not there (as some
  // platforms do).
  void OverstateQueue(uint32_t extra) { overstated_ = extra; }
  // The settings the device reports before anything is applied.
  void SetDeviceState(const serial::LineState& state) { deviceState_ = state; }

  // What happened.
  int calls(FakeOp op) const { return calls_[static_cast<int>(op)]; }
  int opens() const { return opens_; }
  int closes() const { return closes_; }
  bool isOpen() const { return open_; }
  // Device calls made after the device was closed (must stay 0).
  int usesAfterClose() const { return usesAfterClose_; }
  const std::vector<FakeWrite>& writes() const { return writes_; }
  // All bytes written, in order.
  std::vector<uint8_t> written() const;
  const std::vector<uint32_t>& purges() const { return purges_; }
  const serial::LineTimeouts& timeouts() const { return timeouts_; }
  const serial::LineState& deviceState() const { return deviceState_; }
  const std::vector<std::string>& modes() const { return modes_; }
  uint32_t inputQueueSize() const { return queueSize_; }
  // Bytes that have arrived and wait to be read.
  size_t arrived() const;
  // Bytes still on their way.
  size_t inFlight() const;
  // Forgets the writes, purges and mode strings recorded so far (a long
  // run keeps its memory flat this way); calls stay counted.
  void ClearRecords();

  // The device the platform hands out; null when the open fails (missing,
  // a fault, or the line already open: a line has one user).
  std::unique_ptr<serial::Device> Open();

 private:
  friend class FakeDevice;
  struct Pending {
    int64_t atMs;
    uint8_t byte;
  };

  // Counts a call of op; false when a fault hits it.
  bool Call(FakeOp op);
  void Schedule(const std::vector<uint8_t>& bytes, int64_t atMs);

  sim::PeerFunction peer_;
  bool missing_ = false;
  bool open_ = false;
  int opens_ = 0;
  int closes_ = 0;
  int usesAfterClose_ = 0;
  uint32_t overstated_ = 0;
  int calls_[kFakeOpCount] = {};
  int failAt_[kFakeOpCount] = {};
  bool failOn_[kFakeOpCount] = {};
  std::vector<Pending> input_;  // in order of arrival
  std::vector<FakeWrite> writes_;
  std::vector<uint32_t> purges_;
  std::vector<std::string> modes_;
  serial::LineTimeouts timeouts_;
  serial::LineState deviceState_;
  uint32_t queueSize_ = 0;
};

}  // namespace tarvo::test
