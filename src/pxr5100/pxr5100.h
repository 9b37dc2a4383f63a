// Cpxr5100: temperature-acquisition modules with 8 channels, each a chain
// of up to 64 digital sensors, at module addresses 0..127.
#pragma once

#include <cstdint>

#include "driver/driver_base.h"
#include "pxr5100/tables.h"
#include "tarvo/guids.h"
#include "tarvo/records.h"

namespace tarvo {

class Cpxr5100 : public DriverBase {
 public:
  static constexpr const IID& kDispatchIid = DIID_Ipxr5100;
  static constexpr int16_t kLastChannel = pxr5100::kChannels - 1;
  static constexpr int16_t kLastPoint = pxr5100::kPoints - 1;

  // Fills the register table TA, TB, WA, WB, UA, UB, WM (indices 1..7) and
  // resets the class's tables: every module is scanned again, filters
  // start afresh, and no module's gate opens before 2 whole seconds.
  Cpxr5100();

  // Address "RRm.c.p": register, module 0..127, channel 0..7, point 0..63.
  int32_t ParseItem(const char* address, IoItem* item);
  // Delivers one filtered value of one point into value->AnalogValue. Scans
  // the module first if needed; fetches the point's channel with a block
  // read (at most one per module every 2 whole seconds) when the value of
  // this kind was already delivered. Failure leaves *value untouched.
  int32_t ReadItem(IoItem* item, IoValue* value);
  // The registers are read-only: stores ErrOk and returns 1.
  int32_t WriteItem(IoItem* item, IoValue* value);

 private:
  // Learns the points present on each channel of module; false when any
  // channel's exchange or answer fails (the channels done stay marked).
  bool ScanModule(uint8_t module, int32_t timeoutMs);
  // Fetches the records of every present point of one channel behind the
  // module's refresh gate. False, with the code stored, when it failed.
  bool BlockRead(pxr5100::ModuleState& state, uint8_t module, int channel);
  // Hands out a fresh record of one kind through its conversion and filter.
  int32_t Deliver(pxr5100::PointState& point, int kind, IoValue* value);
};

}  // namespace tarvo
