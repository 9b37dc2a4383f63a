#include "driver/exchange.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "driver/trace.h"
#include "serial/clock.h"

namespace tarvo {
namespace {

constexpr size_t kMaxHead = 4;
constexpr size_t kCountAt = 4;

// The expected head, held by value so a rule outlives its caller's bytes.
struct Head {
  std::array<uint8_t, kMaxHead> bytes{};
  size_t size = 0;

  explicit Head(std::span<const uint8_t> head) : size(std::min(head.size(), kMaxHead)) {
    std::copy_n(head.begin(), size, bytes.begin());
  }
  // False as soon as an arrived byte differs from the head.
  bool Fits(std::span<const uint8_t> received) const {
    const size_t n = std::min(received.size(), size);
    return std::equal(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(n),
                      bytes.begin());
  }
};

bool StartsWith(const uint8_t* buffer, std::span<const uint8_t> head) {
  return std::equal(head.begin(), head.end(), buffer);
}

}  // namespace

serial::ReplyRule FixedReply(std::span<const uint8_t> head, size_t length) {
  return [expected = Head(head), length](std::span<const uint8_t> received) {
    return expected.Fits(received) ? length : serial::kReplyNeverWhole;
  };
}

serial::ReplyRule RecordsReply(std::span<const uint8_t> head, size_t records) {
  // A count no buffer can hold is never whole; keep the sum from wrapping.
  const size_t limit = (SIZE_MAX - kFirstRecord) / kRecordBytes;
  const size_t length =
      records > limit ? serial::kReplyNeverWhole : kFirstRecord + kRecordBytes * records;
  return FixedReply(head, length);
}

serial::ReplyRule PointListReply(std::span<const uint8_t> head) {
  return [expected = Head(head)](std::span<const uint8_t> received) {
    if (!expected.Fits(received)) return serial::kReplyNeverWhole;
    if (received.size() <= kCountAt) return serial::kReplyLengthUnknown;
    return kPointListStart + received[kCountAt] + 1;
  };
}

ExchangeOutcome RunExchange(serial::Port& port, const Exchange& exchange, uint8_t* buffer,
                            size_t capacity, uint32_t* count) {
  const auto commandLength = static_cast<int32_t>(exchange.command.size());
  const auto send = [&] {
    TraceHook(exchange.sendLabel, exchange.command.data(), commandLength);
    return port.Write(exchange.command.data(), commandLength, kCommandWriteTimeoutMs);
  };
  port.Purge();
  if (!port.ClearError()) return ExchangeOutcome::kLineError;
  if (!send()) return ExchangeOutcome::kWriteFailed;

  serial::Clock& clock = serial::CurrentClock();
  for (int attempt = 1;; ++attempt) {
    std::memset(buffer, 0, capacity);
    *count = 0;
    if (!port.ReadReply(buffer, capacity, exchange.settleMs, port.Timeout(), exchange.whole, count))
      return ExchangeOutcome::kReadFailed;
    TraceHook(exchange.receiveLabel, buffer, static_cast<int32_t>(*count));
    if (*count > 0) break;
    clock.SleepMs(kEmptyReadPauseMs);
    // Three reads without a byte: the buffer is all zeros, no head.
    if (attempt == kAnswerAttempts) break;
    if (!send()) return ExchangeOutcome::kWriteFailed;
  }
  return StartsWith(buffer, exchange.head) ? ExchangeOutcome::kAnswered
                                           : ExchangeOutcome::kWrongAnswer;
}

bool BlockReadExchange(DriverBase& driver, const Exchange& exchange, uint32_t wrongAnswerPauseMs,
                       uint8_t* buffer, size_t capacity, uint32_t* count) {
  switch (RunExchange(driver.Port(), exchange, buffer, capacity, count)) {
    case ExchangeOutcome::kAnswered:
      return true;
    case ExchangeOutcome::kLineError:
    case ExchangeOutcome::kWriteFailed:
      return driver.FailStep(ErrPortWrite);
    case ExchangeOutcome::kReadFailed:
      return driver.FailStep(ErrPortRead);
    case ExchangeOutcome::kWrongAnswer:
      break;
  }
  if (wrongAnswerPauseMs > 0) serial::CurrentClock().SleepMs(wrongAnswerPauseMs);
  return driver.FailStep(ErrReadData);
}

bool AskModule(serial::Port& port, std::span<const uint8_t> command, const serial::ReplyRule& whole,
               int32_t timeoutMs, uint8_t* buffer, size_t capacity, uint32_t* count) {
  const auto length = static_cast<int32_t>(command.size());
  TraceHook("Read Send", command.data(), length);
  if (!port.Write(command.data(), length, timeoutMs)) return false;
  std::memset(buffer, 0, capacity);
  *count = 0;
  if (!port.ReadReply(buffer, capacity, timeoutMs, timeoutMs, whole, count)) return false;
  TraceHook("Read Receive", buffer, static_cast<int32_t>(*count));
  return true;
}

bool ListedPoints(std::span<const uint8_t> answer, std::span<const uint8_t>* listed) {
  const size_t n = answer[kCountAt];
  if (n != 0 && answer[kPointListStart + n] != kCarriageReturn) return false;
  *listed = answer.subspan(kPointListStart, n);
  return true;
}

bool ScanPointLists(serial::Port& port, std::array<uint8_t, 2> digits, int channels,
                    int32_t timeoutMs, SilentChannel silent,
                    const std::function<void(int channel, std::span<const uint8_t>)>& take) {
  const std::array<uint8_t, 3> head = {'>', digits[0], digits[1]};
  std::vector<uint8_t> answer(kPointListBufferBytes);
  for (int channel = 0; channel < channels; ++channel) {
    const std::array<uint8_t, 5> command = {'*', digits[0], digits[1],
                                            static_cast<uint8_t>('0' + channel), kCarriageReturn};
    uint32_t count = 0;
    if (!AskModule(port, command, PointListReply(head), timeoutMs, answer.data(), answer.size(),
                   &count))
      return false;
    // Without a valid answer on channel 0 nothing was learned: the scan
    // fails, so the module is asked again at the next read.
    if (!StartsWith(answer.data(), head))
      return channel > 0 && silent == SilentChannel::kEndsTheScan;
    // Cut off before its count (the rest still on its way), the answer
    // would read as a channel without points, and the module would stay
    // scanned that way.
    if (count <= kCountAt) return false;
    std::span<const uint8_t> listed;
    if (!ListedPoints(answer, &listed)) return false;
    take(channel, listed);
  }
  return true;
}

}  // namespace tarvo
