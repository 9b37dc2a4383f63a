#include "sensors/outlier_filter.h"

#include <cmath>

namespace tarvo::sensors {
namespace {

constexpr int32_t kMaxHeldBack = 3;

// Whether the difference, truncated to a whole number, is within threshold:
// trunc(|d|) <= t holds exactly when |d| < t + 1 (and never for t < 0), so
// no truncation is needed. A huge, infinite or NaN difference fails the
// comparison and simply counts as a jump; nothing is converted to an integer.
bool WithinThreshold(float last, float v, int32_t threshold) {
  const double d = static_cast<double>(last) - static_cast<double>(v);
  return std::fabs(d) < static_cast<double>(threshold) + 1.0;
}

}  // namespace

float ApplyOutlierFilter(OutlierFilter* filter, float v, int32_t threshold, OnAccept on_accept) {
  if (filter->valid != 1) {
    filter->valid = 1;
    filter->last = v;
    return v;
  }
  if (WithinThreshold(filter->last, v, threshold)) {
    filter->last = v;
    if (on_accept == OnAccept::kResetRejects) filter->rejects = 0;
    return v;
  }
  // Written as a comparison rather than rejects + 1 so that no stored count can
  // overflow.
  if (filter->rejects < kMaxHeldBack) {
    ++filter->rejects;
    return filter->last;
  }
  filter->rejects = 0;
  filter->last = v;
  return v;
}

}  // namespace tarvo::sensors
