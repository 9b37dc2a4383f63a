#include "sim/plant/value_source.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvo::sim {

ValueSource::ValueSource(Shape shape) : shape_(shape) {
  if (const auto* walk = std::get_if<RandomWalkValue>(&shape_)) {
    rng_.seed(walk->seed);
    walked_ = std::clamp(walk->start, walk->min, walk->max);
  }
}

bool ValueSource::varies() const { return !std::holds_alternative<ConstantValue>(shape_); }

double ValueSource::At(double seconds) {
  if (const auto* constant = std::get_if<ConstantValue>(&shape_)) return constant->value;
  if (const auto* ramp = std::get_if<RampValue>(&shape_)) {
    const double cycles = seconds / ramp->period;
    return ramp->from + (ramp->to - ramp->from) * (cycles - std::floor(cycles));
  }
  if (const auto* sine = std::get_if<SineValue>(&shape_)) {
    const double degrees = 360.0 * seconds / sine->period + sine->phase;
    return sine->mean + sine->amplitude * std::sin(degrees * std::numbers::pi / 180.0);
  }
  const auto& walk = std::get<RandomWalkValue>(shape_);
  const auto due = static_cast<int64_t>(std::floor(seconds / walk.interval));
  for (; steps_ < due; ++steps_) {
    // The generator's raw output, not a distribution: the same walk on every
    // standard library.
    const double unit = static_cast<double>(rng_()) / 4294967295.0;  // 0..1
    walked_ = std::clamp(walked_ + (2.0 * unit - 1.0) * walk.step, walk.min, walk.max);
  }
  return walked_;
}

}  // namespace tarvo::sim
