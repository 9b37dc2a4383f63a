#include "driver/address.h"

#include <cstring>

namespace tarvo {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

uint16_t ParseDigitRun(const char* text, const char** end) {
  uint32_t value = 0;
  while (IsDigit(*text)) {
    value = (value * 10 + static_cast<uint32_t>(*text - '0')) & 0xFFFFu;
    ++text;
  }
  if (end != nullptr) *end = text;
  return static_cast<uint16_t>(value);
}

bool ParseChannelPoint(const char* text, int16_t* first, int16_t* second) {
  const char* firstPoint = std::strchr(text, '.');
  if (firstPoint == nullptr || firstPoint[1] == '\0') return false;
  const char* secondPoint = std::strchr(firstPoint + 1, '.');
  if (secondPoint == nullptr) return false;
  *first = static_cast<int16_t>(ParseDigitRun(firstPoint + 1));
  *second = static_cast<int16_t>(ParseDigitRun(secondPoint + 1));
  return true;
}

bool ParsePointAddress3(const char* text, int16_t* first, int16_t* second, int16_t* third) {
  const char* firstPoint = std::strchr(text, '.');
  if (firstPoint == nullptr) return false;
  const char* secondPoint = std::strchr(firstPoint + 1, '.');
  if (secondPoint == nullptr) return false;
  const char* thirdPoint = std::strchr(secondPoint + 1, '.');
  if (thirdPoint == nullptr) return false;
  *first = static_cast<int16_t>(ParseDigitRun(firstPoint + 1));
  *second = static_cast<int16_t>(ParseDigitRun(secondPoint + 1));
  *third = static_cast<int16_t>(ParseDigitRun(thirdPoint + 1));
  return true;
}

bool ParseModuleDigits(const char* address, int maxDigits, int32_t* module) {
  // The name matched, so address[0..1] are characters and address[2] exists.
  const char* digits = address + 2;
  int32_t value = 0;
  int count = 0;
  while (count < maxDigits && IsDigit(digits[count])) {
    value = value * 10 + (digits[count] - '0');
    ++count;
  }
  if (count == 0) return false;
  *module = value;
  return true;
}

int32_t ParseSensorItem(DriverBase& driver, const char* address, IoItem* item,
                        SensorAddressLimits limits) {
  const int16_t index = driver.FindRegister(address);
  if (index == 0) return driver.Fail(ErrRegisterUnsupported);
  if (item->DataType != kDataTypeFloat) return driver.Fail(ErrDataType);
  item->RegisterIndex = index;

  int32_t module = 0;
  if (!ParseModuleDigits(address, 3, &module)) return driver.Fail(ErrRegisterUnsupported);
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

std::array<uint8_t, 2> AddressDigits(int module, HexCase letters) {
  const char* digits = letters == HexCase::kLower ? "0123456789abcdef" : "0123456789ABCDEF";
  return {static_cast<uint8_t>(digits[(module >> 4) & 0xF]),
          static_cast<uint8_t>(digits[module & 0xF])};
}

}  // namespace tarvo
