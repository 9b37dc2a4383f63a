#include "driver/parse_sensor_item.h"

#include "driver/parse_channel_point.h"

namespace tarvo {

int32_t ParseSensorItem(DriverBase& driver, const char* address, IoItem* item,
                        SensorAddressLimits limits) {
  const int16_t index = driver.FindRegister(address);
  if (index == 0) return driver.Fail(ErrRegisterUnsupported);
  if (item->DataType != kDataTypeFloat) return driver.Fail(ErrDataType);
  item->RegisterIndex = index;

  // The name matched, so address[0..1] are characters and address[2] exists.
  const char* digits = address + 2;
  if (*digits < '0' || *digits > '9') return driver.Fail(ErrRegisterUnsupported);
  int32_t module = 0;
  for (int count = 0; count < 3 && *digits >= '0' && *digits <= '9'; ++count, ++digits)
    module = module * 10 + (*digits - '0');
  item->ModuleAddress = module;

  int16_t channel = 0;
  int16_t point = 0;
  if (!ParseChannelPoint(address, &channel, &point)) return driver.Fail(ErrRegisterName);
  item->Channel = channel;
  item->Point = point;

  if (module < 0 || module > 127) return driver.Fail(ErrModuleAddress);
  if (channel < 0 || channel > limits.lastChannel) return driver.Fail(ErrChannel);
  if (point < 0 || point > limits.lastPoint) return driver.Fail(ErrPointNumber);
  return driver.Succeed();
}

}  // namespace tarvo
