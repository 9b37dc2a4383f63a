// Reads a raw 4-byte record from a plant description: four hex bytes
// separated by blanks, b0 first, such as "32 00 0c 10".
#pragma once

#include "sim/plant/plant_names.h"
#include "sim/sensor_encoding.h"

namespace tarvo::sim {

// Throws PlantValueError when the text is not four hex bytes.
RawRecord ReadRawRecord(const PlantNode& node);

}  // namespace tarvo::sim
