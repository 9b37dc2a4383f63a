// Point discovery: "*" mm c CR asks channel c for its bus points; the
// answer is ">" mm, one unexamined byte, the count n, n point numbers (byte
// values) and CR. With n = 0 nothing after the count is examined.
#include <cstring>

#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5760/pxr5760.h"
#include "pxr5760/wire.h"

namespace tarvo {
namespace {
constexpr size_t kScanBufferSize = 600;
// Byte 4 is the count: an answer that ends before it says nothing.
constexpr uint32_t kCountByte = 4;
}  // namespace

bool CPxr5760::ScanModule(pxr5760::ModuleState& state, uint8_t module, int32_t timeoutMs) {
  const auto digits = pxr5760::AddressDigits(module);
  const uint8_t head[3] = {'>', digits[0], digits[1]};

  for (int channel = 0; channel < pxr5760::kChannels; ++channel) {
    const uint8_t command[5] = {'*', digits[0], digits[1], static_cast<uint8_t>('0' + channel),
                                pxr5760::kCarriageReturn};
    TraceHook("Read Send", command, sizeof command);
    if (!Port().Write(command, sizeof command, timeoutMs)) return false;

    uint8_t answer[kScanBufferSize] = {};
    uint32_t count = 0;
    if (!Port().ReadReply(answer, sizeof answer, timeoutMs, timeoutMs, PointListReply(head),
                          &count))
      return false;
    TraceHook("Read Receive", answer, static_cast<int32_t>(count));
    // A module that gives no valid answer on channel 0 has told nothing and
    // is asked again at the next read. A later channel without one ends the
    // scan with what the earlier channels reported; it and the channels
    // after it keep what they held.
    if (std::memcmp(answer, head, sizeof head) != 0) return channel > 0;
    // Cut off before its count (the rest still on its way), the answer
    // would read as a channel without points, and the module would stay
    // scanned that way: the scan fails and is repeated at the next read.
    if (count <= kCountByte) return false;

    const int listed = answer[4];
    if (listed != 0 && answer[5 + listed] != pxr5760::kCarriageReturn) return false;
    // The flags always equal the latest answer, and a channel's record count
    // is the number of its present points: a point listed twice or beyond
    // the channel's 32 neither takes a record nor shifts the others.
    auto& present = state.present[static_cast<size_t>(channel)];
    present.reset();
    for (int i = 0; i < listed; ++i) {
      const uint8_t point = answer[5 + i];
      if (point < pxr5760::kPoints) present.set(point);
    }
    state.sensorCount[static_cast<size_t>(channel)] = static_cast<int32_t>(present.count());
  }
  return true;
}

}  // namespace tarvo
