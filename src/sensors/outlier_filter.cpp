#include "sensors/outlier_filter.h"

#include <cmath>

namespace tarvo::sensors {
namespace {

constexpr int32_t kMaxHeldBack = 3;

// Truncating the difference in double and comparing it there gives the whole
// number comparison for every difference an integer can hold, while a huge,
// infinite or NaN difference (the comparison fails) simply counts as a jump
// instead of reaching an undefined float-to-integer conversion.
bool WithinThreshold(float last, float v, int32_t threshold) {
  const double d = std::trunc(static_cast<double>(last) - static_cast<double>(v));
  return std::fabs(d) <= static_cast<double>(threshold);
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
