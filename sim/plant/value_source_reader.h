// Reads a value source from a plant description. A value is written as
//   21.5                                           a constant
//   {"constant": 21.5}
//   {"ramp": {"from": 15, "to": 25, "period": 120}}
//   {"sine": {"mean": 21.5, "amplitude": 2, "period": 60, "phase": 90}}
//   {"random_walk": {"start": 45, "step": 0.5, "min": 30, "max": 70,
//                    "interval": 1, "seed": 7}}
// with periods and intervals in seconds; phase (degrees, default 0),
// mean (default 0), interval (default 1) and seed (default 1) may be left
// out.
#pragma once

#include "sim/plant/plant_names.h"
#include "sim/plant/value_source.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

// Throws PlantValueError naming the part of `node` that does not fit.
ValueSource ReadValueSource(const PlantNode& node);

// ReadValueSource for a value whose format carries `range`: a source that
// ever leaves it (a constant outside, a ramp, sine or random walk that
// reaches outside) is refused at `node`.
ValueSource ReadValueSource(const PlantNode& node, ValueRange range);

}  // namespace tarvo::sim
