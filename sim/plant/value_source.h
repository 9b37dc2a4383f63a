// What a simulated value does over time, as a function of the seconds since
// the plant started:
//   constant     always the same value
//   ramp         rises (or falls) linearly from `from` to `to` over `period`
//                seconds, then starts again at `from` (a saw tooth)
//   sine         mean + amplitude * sin(360 * t / period + phase) degrees
//   random walk  starts at `start`; every `interval` seconds moves by a
//                pseudo-random amount in [-step, +step], kept in [min, max];
//                the same seed gives the same walk
#pragma once

#include <cstdint>
#include <random>
#include <variant>

namespace tarvo::sim {

struct ConstantValue {
  double value = 0;
};
struct RampValue {
  double from = 0;
  double to = 0;
  double period = 1;  // seconds, > 0
};
struct SineValue {
  double mean = 0;
  double amplitude = 0;
  double period = 1;  // seconds, > 0
  double phase = 0;   // degrees
};
struct RandomWalkValue {
  double start = 0;
  double step = 0;
  double min = 0;
  double max = 0;
  double interval = 1;  // seconds, > 0
  uint32_t seed = 1;
};

class ValueSource {
 public:
  using Shape = std::variant<ConstantValue, RampValue, SineValue, RandomWalkValue>;

  ValueSource(Shape shape);  // NOLINT: a shape is a source
  // The value at `seconds` (>= 0) since the start. A random walk
  // remembers how far it has walked; asked for an earlier time than
  // before, it stays where it is.
  double At(double seconds);
  // False for a constant: its value never needs refreshing.
  bool varies() const;
  const Shape& shape() const { return shape_; }

 private:
  Shape shape_;
  // Random walk state.
  std::mt19937 rng_;
  int64_t steps_ = 0;
  double walked_ = 0;
};

}  // namespace tarvo::sim
