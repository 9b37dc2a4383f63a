// The simulator reads its plant descriptions with the tools' plant-document
// reader (tools/plant/); these are its names in the simulator.
#pragma once

#include "tools/plant/plant_error.h"
#include "tools/plant/plant_node.h"

namespace tarvo::sim {

using plant::PlantError;
using plant::PlantNode;
using plant::PlantNumberText;
using plant::PlantValueError;

}  // namespace tarvo::sim
