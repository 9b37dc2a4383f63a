// The outlier filter every register value passes on its way to the host: a
// reading that jumps away from the last accepted one is held back, and the
// last accepted value delivered instead, at most three times.
#pragma once

#include <cstdint>

namespace tarvo::sensors {

// One filter entry; the drivers keep one per point and register kind in
// process-wide tables, so the record stays plain and 12 bytes. A zeroed entry
// is a fresh one.
struct OutlierFilter {
  int32_t valid = 0;    // 1 once a value has been accepted; any other value: not yet
  float last = 0.0f;    // the last accepted value
  int32_t rejects = 0;  // readings held back since the last forced acceptance
};
static_assert(sizeof(OutlierFilter) == 12, "the filter tables hold 12-byte records");

// What an accepted reading within the threshold does to the reject count.
enum class OnAccept {
  kKeepRejects,   // the count runs on over all jumps since a forced acceptance
  kResetRejects,  // a normal reading ends the run (the bus analog inputs read
                  // before any bus traffic)
};

// Filters the reading v with threshold T and returns the value to deliver:
// - the first reading of an entry is accepted;
// - when last - v, truncated toward zero to a whole number, is at most T in
//   magnitude, v is accepted (differences 10.99 and -10.99 pass T = 10; 11
//   does not);
// - otherwise the first three such jumps are held back (rejects counts them,
//   last is delivered) and the next one is accepted, resetting rejects to 0.
// Accepting a value makes it the entry's last. A difference that is not finite
// or too large for an integer counts as a jump.
float ApplyOutlierFilter(OutlierFilter* filter, float v, int32_t threshold,
                         OnAccept on_accept = OnAccept::kKeepRejects);

}  // namespace tarvo::sensors
