#include "driver/reply_rules.h"

#include <algorithm>
#include <array>

namespace tarvo {
namespace {

constexpr size_t kMaxHead = 4;
constexpr size_t kCountAt = 4;
constexpr size_t kPointsStart = 5;
constexpr size_t kRecordsStart = 5;
constexpr size_t kRecordBytes = 4;

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

}  // namespace

serial::ReplyRule FixedReply(std::span<const uint8_t> head, size_t length) {
  return [expected = Head(head), length](std::span<const uint8_t> received) {
    return expected.Fits(received) ? length : serial::kReplyNeverWhole;
  };
}

serial::ReplyRule RecordsReply(std::span<const uint8_t> head, size_t records) {
  // A count no buffer can hold is never whole; keep the sum from wrapping.
  const size_t limit = (SIZE_MAX - kRecordsStart) / kRecordBytes;
  const size_t length =
      records > limit ? serial::kReplyNeverWhole : kRecordsStart + kRecordBytes * records;
  return FixedReply(head, length);
}

serial::ReplyRule PointListReply(std::span<const uint8_t> head) {
  return [expected = Head(head)](std::span<const uint8_t> received) {
    if (!expected.Fits(received)) return serial::kReplyNeverWhole;
    if (received.size() <= kCountAt) return serial::kReplyLengthUnknown;
    return kPointsStart + received[kCountAt] + 1;
  };
}

}  // namespace tarvo
