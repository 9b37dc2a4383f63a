// The wait for an answer: the full time-out by default, or until the
// answer is whole in early-reply mode.
#include <algorithm>
#include <span>

#include "serial/clock.h"
#include "serial/port.h"

namespace tarvo::serial {
namespace {

int64_t Milliseconds(int32_t ms) { return ms < 0 ? 0 : ms; }

// True when the bytes taken are the whole answer by whole's word. A length
// beyond the buffer cannot be reached: such an answer is never whole here.
bool IsWhole(const ReplyRule& whole, const uint8_t* buffer, size_t taken, size_t capacity) {
  const size_t length = whole(std::span<const uint8_t>(buffer, taken));
  if (length == kReplyLengthUnknown || length == kReplyNeverWhole || length > capacity)
    return false;
  return taken >= length;
}

}  // namespace

bool Port::ReadReply(uint8_t* buffer, size_t capacity, int32_t settleMs, int32_t timeoutMs,
                     const ReplyRule& whole, uint32_t* count) {
  if (early_ && whole && line_ != nullptr && (buffer != nullptr || capacity == 0))
    return ReadEarly(buffer, capacity,
                     static_cast<int32_t>(std::min<int64_t>(
                         Milliseconds(settleMs) + Milliseconds(timeoutMs), INT32_MAX)),
                     timeoutMs, whole, count);
  if (settleMs > 0) CurrentClock().SleepMs(static_cast<uint32_t>(settleMs));
  return Read(buffer, capacity, timeoutMs, count);
}

bool Port::ReadEarly(uint8_t* buffer, size_t capacity, int32_t waitMs, int32_t timeoutMs,
                     const ReplyRule& whole, uint32_t* count) {
  Clock& clock = CurrentClock();
  const int64_t deadline = clock.NowMs() + waitMs;
  size_t taken = 0;
  bool failed = false;
  for (;;) {
    // Each pass reads what is queued, as the default mode's single read
    // does at the deadline, so the bytes taken in all passes together are
    // the bytes that read would have returned.
    if (!failed && taken < capacity) {
      uint32_t got = 0;
      if (ReadNoSleep(buffer + taken, capacity - taken, timeoutMs, &got))
        taken += got;
      else
        failed = true;
    }
    if (!failed && IsWhole(whole, buffer, taken, capacity)) break;
    const int64_t left = deadline - clock.NowMs();
    if (left <= 0) break;
    // Nothing more to learn before the deadline: a failed line, a full
    // buffer, or an answer that cannot become whole.
    const size_t length =
        failed ? kReplyNeverWhole : whole(std::span<const uint8_t>(buffer, taken));
    const bool hopeless = failed || taken == capacity || length == kReplyNeverWhole ||
                          (length != kReplyLengthUnknown && length > capacity);
    clock.SleepMs(static_cast<uint32_t>(hopeless ? left : std::min<int64_t>(left, kReplyPollMs)));
  }
  if (failed) return false;
  if (count != nullptr) *count = static_cast<uint32_t>(taken);
  return true;
}

}  // namespace tarvo::serial
