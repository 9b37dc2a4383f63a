#include "pxr5100/pxr5100.h"

#include "driver/parse_sensor_item.h"
#include "serial/clock.h"

namespace tarvo {

Cpxr5100::Cpxr5100()
    : DriverBase({{"TA", kAccessRead, kDataTypeFloat},
                  {"TB", kAccessRead, kDataTypeFloat},
                  {"WA", kAccessRead, kDataTypeFloat},
                  {"WB", kAccessRead, kDataTypeFloat},
                  {"UA", kAccessRead, kDataTypeFloat},
                  {"UB", kAccessRead, kDataTypeFloat},
                  {"WM", kAccessRead, kDataTypeFloat}}) {
  pxr5100::SharedTables().Reset(serial::CurrentClock().NowSeconds());
}

int32_t Cpxr5100::ParseItem(const char* address, IoItem* item) {
  return ParseSensorItem(*this, address, item, {kLastChannel, kLastPoint});
}

int32_t Cpxr5100::WriteItem(IoItem*, IoValue*) { return Succeed(); }

}  // namespace tarvo
