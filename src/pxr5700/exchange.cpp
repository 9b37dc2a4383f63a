// One command and its reply. The protocol has no framing a reply could be
// recognised by, so the input that arrived before the command (a reply that
// came after its time-out, noise) is discarded first: it would otherwise be
// taken as the answer to this command. Only the receive side is flushed.
#include <algorithm>
#include <cstring>

#include "driver/reply_rules.h"
#include "driver/trace.h"
#include "pxr5700/pxr5700.h"

namespace tarvo {
namespace {
// The module is always given at least this long to answer.
constexpr int32_t kMinExchangeTimeoutMs = 100;
}  // namespace

bool Cpxr5700::Exchange(const pxr5700::Command& command, const char* sendLabel,
                        const char* receiveLabel, uint8_t head, size_t length, uint8_t* reply,
                        size_t capacity, uint32_t* count) {
  const int32_t timeoutMs = std::max(Port().Timeout(), kMinExchangeTimeoutMs);
  Port().PurgeInput();
  TraceHook(sendLabel, command.data(), static_cast<int32_t>(command.size()));
  if (!Port().WriteNoPurge(command.data(), static_cast<int32_t>(command.size()), timeoutMs))
    return FailStep(ErrPortWrite);

  std::memset(reply, 0, capacity);
  *count = 0;
  // The module's time to answer, then what arrived: the read's own wait.
  const uint8_t expected[1] = {head};
  if (!Port().ReadReply(reply, capacity, 0, timeoutMs, FixedReply(expected, length), count))
    return FailStep(ErrPortRead);
  TraceHook(receiveLabel, reply, static_cast<int32_t>(*count));
  return true;
}

}  // namespace tarvo
