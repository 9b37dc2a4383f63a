#include "sensors/bus_point_conversions.h"

#include "sensors/conversions.h"

namespace tarvo::sensors {
namespace {
// 5/1023 to double precision: full scale, 1023 counts, is 5.0 volts.
constexpr double kVoltsPerCount = 0.004887585532746823;
}  // namespace

// The bus modules encode their temperatures as the sensor modules do.
float BusPointTemperature(const uint8_t* raw) {
  float value;
  ConvertTempSignMagnitude(raw, &value);  // never rejects
  return value;
}

float BusPointHalves(const uint8_t* raw) {
  return static_cast<float>(static_cast<int8_t>(raw[1]) * 0.5);
}

float BusPointKt(const uint8_t* raw) {
  return static_cast<float>(((raw[2] & 0x0F) * 256 + raw[1]) * 0.25);
}

float BusPointAnalog(const uint8_t* raw) {
  return static_cast<float>(((raw[2] & 0x03) * 256 + raw[1]) * kVoltsPerCount);
}

int BusPointInputBit(const uint8_t* raw, int k) { return TestBit(raw[1], k); }

int BusPointOutputBit(const uint8_t* raw, int k) { return TestBit(raw[2], k); }

}  // namespace tarvo::sensors
