// ParseItem of the sensor families (pxr5100, pxr5303, pxr530x): a register
// name from the driver's table, one to three module digits right behind it,
// then ".channel.point".
#pragma once

#include <cstdint>

#include "driver/driver_base.h"
#include "tarvo/records.h"

namespace tarvo {

struct SensorAddressLimits {
  int16_t lastChannel;
  int16_t lastPoint;
};

// Fills RegisterIndex (1-based), ModuleAddress, Channel and Point of *item.
// Checks in order: register name (code 1), DataType 128 (9), module digit
// (1), dotted part (21), module 0..127 (18), channel (19), point (20). Fields
// stored before a failing check stay in the item. Returns the driver's
// result: 1 with ErrOk, or 0 with the failing code stored.
int32_t ParseSensorItem(DriverBase& driver, const char* address, IoItem* item,
                        SensorAddressLimits limits);

}  // namespace tarvo
