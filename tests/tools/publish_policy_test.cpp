// When an item's reading is published: every read, or on a change past
// the dead band, at the heartbeat, and on each failure and recovery.
#include "tools/gateway/publish_policy.h"

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

using namespace std::chrono_literals;
using Steady = std::chrono::steady_clock;

const PublishPolicy kEveryRead{};
const PublishPolicy kOnChange{true, 0.5, 10s};
const PublishPolicy kNoHeartbeat{true, 0.5, 0s};

struct PolicyCase {
  const char* what;
  PublishPolicy policy;
  std::optional<Published> last;  // at time 0
  bool ok;
  double value;
  bool discrete;
  std::string error;
  Steady::duration after;
  bool published;
};

TEST(PublishPolicy, PublishesChangesPastTheDeadBandHeartbeatsFailuresAndRecoveries) {
  const PolicyCase kCases[] = {
      {"every read, unchanged", kEveryRead, Published{true, 20, "", {}}, true, 20, false, "", 1s,
       true},
      {"the first reading", kOnChange, std::nullopt, true, 20, false, "", 0s, true},
      {"inside the dead band", kOnChange, Published{true, 20, "", {}}, true, 20.5, false, "", 1s,
       false},
      {"beyond it", kOnChange, Published{true, 20, "", {}}, true, 19.4, false, "", 1s, true},
      {"drift past the published value", kOnChange, Published{true, 20, "", {}}, true, 20.51, false,
       "", 1s, true},
      {"at max_interval", kOnChange, Published{true, 20, "", {}}, true, 20, false, "", 10s, true},
      {"no heartbeat", kNoHeartbeat, Published{true, 20, "", {}}, true, 20, false, "", 1h, false},
      {"a discrete change", kOnChange, Published{true, 1, "", {}}, true, 0, true, "", 1s, true},
      {"a discrete value the same", kOnChange, Published{true, 1, "", {}}, true, 1, true, "", 1s,
       false},
      {"a failure", kOnChange, Published{true, 20, "", {}}, false, 0, false, "time-out", 1s, true},
      {"the same failure again", kOnChange, Published{false, 20, "time-out", {}}, false, 0, false,
       "time-out", 1s, false},
      {"another failure", kOnChange, Published{false, 20, "time-out", {}}, false, 0, false,
       "checksum", 1s, true},
      {"a failure at max_interval", kOnChange, Published{false, 20, "time-out", {}}, false, 0,
       false, "time-out", 10s, true},
      {"a recovery to the same value", kOnChange, Published{false, 20, "time-out", {}}, true, 20,
       false, "", 1s, true},
  };
  for (const PolicyCase& c : kCases)
    EXPECT_EQ(ShouldPublish(c.policy, c.last, c.ok, c.value, c.discrete, c.error,
                            Steady::time_point{} + c.after),
              c.published)
        << c.what;
}

}  // namespace
}  // namespace tarvo::tools
