// The seven register kinds of the pxr5100: the conversion of a point's
// 4-byte record and the threshold of the kind's outlier filter.
#pragma once

#include <cstdint>

#include "pxr5100/tables.h"
#include "sensors/conversions.h"

namespace tarvo::pxr5100 {

struct Kind {
  bool (*convert)(const uint8_t* raw, float* out);
  int32_t threshold;
};

// Indexed by register index - 1 (TA, TB, WA, WB, UA, UB, WM).
inline constexpr Kind kKindTable[kKinds] = {
    {sensors::ConvertTempExtended, 10},      {sensors::ConvertTemp12, 10},
    {sensors::ConvertTempSixteenths, 10},    {sensors::ConvertHumidity, 50},
    {sensors::ConvertTempSignMagnitude, 10}, {sensors::ConvertHalves, 10},
    {sensors::ConvertHundredths, 50},
};

}  // namespace tarvo::pxr5100
