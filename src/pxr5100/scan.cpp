// Sensor discovery: "*" mm c CR asks channel c for the numbers of its
// sensor points; the answer is ">" mm, one unexamined byte, the count N,
// N point numbers and CR (no CR is sent when N is 0).
#include <cstdio>
#include <cstring>

#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5100/pxr5100.h"

namespace tarvo {
namespace {
constexpr size_t kScanBufferSize = 600;
constexpr uint8_t kCarriageReturn = 0x0D;
// Byte 4 is the count: an answer that ends before it says nothing.
constexpr uint32_t kCountByte = 4;
}  // namespace

bool Cpxr5100::ScanModule(uint8_t module, int32_t timeoutMs) {
  pxr5100::ModuleState& state = pxr5100::SharedTables().Module(module);
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02x", module);
  const uint8_t head[3] = {'>', static_cast<uint8_t>(digits[0]), static_cast<uint8_t>(digits[1])};

  for (int channel = 0; channel < pxr5100::kChannels; ++channel) {
    const uint8_t command[5] = {'*', head[1], head[2], static_cast<uint8_t>('0' + channel),
                                kCarriageReturn};
    TraceHook("Read Send", command, sizeof command);
    if (!Port().Write(command, sizeof command, timeoutMs)) return false;

    uint8_t answer[kScanBufferSize] = {};
    uint32_t count = 0;
    if (!Port().ReadReply(answer, sizeof answer, timeoutMs, timeoutMs, PointListReply(head),
                          &count))
      return false;
    TraceHook("Read Receive", answer, static_cast<int32_t>(count));
    if (std::memcmp(answer, head, sizeof head) != 0) return false;
    // Cut off before its count (the rest still on its way), the answer
    // would read as a channel without sensors, and the module would stay
    // scanned that way.
    if (count <= kCountByte) return false;

    const int listed = answer[4];
    std::bitset<pxr5100::kPoints>& present = state.present[static_cast<size_t>(channel)];
    if (listed != 0 && answer[5 + listed] != kCarriageReturn) return false;
    // The flags always equal the latest answer: stale marks would shift the
    // records of a block read onto the wrong points.
    present.reset();
    for (int i = 0; i < listed; ++i) {
      const uint8_t point = answer[5 + i];
      if (point < pxr5100::kPoints) present.set(point);
    }
  }
  state.scanned = true;
  return true;
}

}  // namespace tarvo
