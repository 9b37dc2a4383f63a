#include "pxr530x/sensor_module_driver.h"

#include "driver/parse_sensor_item.h"
#include "serial/clock.h"

namespace tarvo::pxr530x {

SensorModuleDriver::SensorModuleDriver(const ClassTraits& traits, Tables& tables)
    : DriverBase({{"TA", kAccessRead, kDataTypeFloat},
                  {"TB", kAccessRead, kDataTypeFloat},
                  {"WA", kAccessRead, kDataTypeFloat},
                  {"WB", kAccessRead, kDataTypeFloat}}),
      traits_(traits),
      tables_(tables) {
  tables_.Reset(serial::CurrentClock().NowSeconds());
}

int32_t SensorModuleDriver::ParseItem(const char* address, IoItem* item) {
  return ParseSensorItem(
      *this, address, item,
      {static_cast<int16_t>(traits_.channels - 1), static_cast<int16_t>(traits_.points - 1)});
}

int32_t SensorModuleDriver::WriteItem(IoItem*, IoValue*) { return Succeed(); }

}  // namespace tarvo::pxr530x
