// Cpxr5100: temperature-acquisition modules with 8 channels, each a chain
// of up to 64 digital sensors, at module addresses 0..127.
#pragma once

#include <cstdint>

#include "driver/driver_base.h"
#include "tarvo/guids.h"
#include "tarvo/records.h"

namespace tarvo {

class Cpxr5100 : public DriverBase {
 public:
  static constexpr const IID& kDispatchIid = DIID_Ipxr5100;
  static constexpr int16_t kLastChannel = 7;
  static constexpr int16_t kLastPoint = 63;

  // Fills the register table TA, TB, WA, WB, UA, UB, WM (indices 1..7).
  Cpxr5100();

  // Address "RRm.c.p": register, module 0..127, channel 0..7, point 0..63.
  int32_t ParseItem(const char* address, IoItem* item);
  int32_t ReadItem(IoItem* item, IoValue* value);
  // The registers are read-only: stores ErrOk and returns 1.
  int32_t WriteItem(IoItem* item, IoValue* value);
};

}  // namespace tarvo
