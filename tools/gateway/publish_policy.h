// When an item's fresh reading is published: after every read, or only
// when its value moved past a dead band, at least every max_interval, and
// whenever a read fails or recovers. Between two messages nothing in the
// retained one changes, so a broker's retained copy stays as it was.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace tarvo::tools {

struct PublishPolicy {
  bool onChange = false;  // false: every read
  double deadband = 0;    // absolute, in the item's unit; a discrete value's change always counts
  std::chrono::duration<double> maxInterval{300};  // 0: no heartbeat
  bool operator==(const PublishPolicy&) const = default;
};

// What was last published for an item.
struct Published {
  bool ok = false;
  std::optional<double> value;  // of the last good read published
  std::string_view error;       // of the failure published, while !ok (the caller keeps it)
  std::chrono::steady_clock::time_point at;
};

// Whether a reading (ok with `value`, or failed with `error`) is published
// at `now`, after `last` (nothing: the item's first).
bool ShouldPublish(const PublishPolicy& policy, const std::optional<Published>& last, bool ok,
                   double value, bool discrete, std::string_view error,
                   std::chrono::steady_clock::time_point now);

}  // namespace tarvo::tools
