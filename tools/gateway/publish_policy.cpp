#include "tools/gateway/publish_policy.h"

#include <cmath>

namespace tarvo::tools {

bool ShouldPublish(const PublishPolicy& policy, const std::optional<Published>& last, bool ok,
                   double value, bool discrete, std::string_view error,
                   std::chrono::steady_clock::time_point now) {
  if (!policy.onChange || !last || last->ok != ok) return true;
  if (policy.maxInterval.count() > 0 && now - last->at >= policy.maxInterval) return true;
  if (!ok) return error != last->error;
  if (!last->value) return true;
  const double change = std::fabs(value - *last->value);
  return discrete ? change != 0 : change > policy.deadband;
}

}  // namespace tarvo::tools
