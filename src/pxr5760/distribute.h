// Spreading a block-read answer over the points of a module.
#pragma once

#include <cstdint>

#include "pxr5760/tables.h"

namespace tarvo::pxr5760 {

// answer holds kAnswerBufferSize bytes, zeros past what arrived. The
// records of channel c begin after those of channels 0..c-1 (sensorCount
// each); within a channel each present point, in ascending order, takes the
// next record and gets fresh TA, HB and KT values, the LT and AD values of
// the sub-channel in bits 7..5 of the record's b2, and all eight bits.
// Points not present keep their record and flags.
void Distribute(ModuleState& state, const uint8_t* answer);

}  // namespace tarvo::pxr5760
