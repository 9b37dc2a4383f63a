// The driver error codes. Every failing operation stores exactly one of
// these in the object; GetErrorText returns its fixed GBK (code page 936)
// text and resets the code to ErrOk.
#pragma once

#include <stdint.h>

#include "tarvo/com.h"

#ifdef __cplusplus
namespace tarvo {
#endif

// In C the enumeration is an int, of the same size.
enum DriverError
#ifdef __cplusplus
    : int32_t
#endif
{
  ErrOk = 0,
  ErrRegisterUnsupported = 1,
  ErrDigitsExpected = 2,
  ErrModuleNumber = 3,
  ErrChannelNumber = 4,
  ErrRtsDtrMode = 5,
  ErrOpenPort = 6,
  ErrClosePort = 7,
  ErrReadTemperature = 8,
  ErrDataType = 9,
  ErrCreatePort = 10,
  ErrRegisterLimit = 11,
  ErrInitPortData = 12,
  ErrPortState = 13,
  ErrPortTimeouts = 14,
  ErrDeviceAddress = 15,
  ErrPortWrite = 16,
  ErrPortRead = 17,
  ErrModuleAddress = 18,
  ErrChannel = 19,
  ErrPointNumber = 20,
  ErrRegisterName = 21,
  ErrReadData = 22,
  ErrDelayNotElapsed = 23,
  ErrInitModule = 24,
};

TARVO_CONST int32_t kErrorCount = 25;

#ifdef __cplusplus
}  // namespace tarvo
#endif
