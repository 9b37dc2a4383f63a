#include "sensors/conversions.h"

namespace tarvo::sensors {
namespace {

// The converter's offset and slope: relative humidity = (ratio - 0.2354) / 0.00474.
constexpr double kHumidityOffset = 0.2354;
constexpr double kHumidityPerRatio = 210.97046413502107;
constexpr uint8_t kInvalidMarker = 0xFE;

// The count bytes refine a half-degree reading by (b3 - b2) / b3 of a degree;
// the difference is signed, b2 may exceed b3.
double CountFraction(const uint8_t* raw) {
  return static_cast<double>(raw[3] - raw[2]) / static_cast<double>(raw[3]);
}

double SignMagnitude(const uint8_t* raw) {
  const double magnitude = ((raw[3] & 0x07) * 256 + raw[2]) * 0.0625;
  return TestBit(raw[3], 3) ? -magnitude : magnitude;
}

}  // namespace

int TestBit(uint32_t value, int n) {
  // n & 7 is n mod 8 for negative n too (two's complement), and never shifts
  // by an out-of-range amount.
  return static_cast<int>(((value & 0xFFu) >> (n & 7)) & 1u);
}

bool ConvertTempExtended(const uint8_t* raw, float* out) {
  double value;
  if (raw[1] == 0x00) {
    value = raw[0] * 0.5;
    if (raw[3] != 0) value = CountFraction(raw) + (value - 0.25);
  } else if (raw[1] == 0xFF) {
    // The count fraction of a negative reading extends its magnitude.
    value = (256 - raw[0]) * -0.5;
    if (raw[3] != 0) value = (value - 0.25) - CountFraction(raw);
  } else {
    value = kMarkerValue;
  }
  *out = static_cast<float>(value);
  return true;
}

bool ConvertTemp12(const uint8_t* raw, float* out) {
  const int high = raw[1] >> 3;
  double value;
  if (high == 0) {
    value = ((raw[1] & 0x07) * 256 + raw[0]) * 0.0625;
  } else if (high == 0x1F) {
    value = ((raw[1] - 256) * 256 + raw[0]) * 0.0625;
  } else {
    value = kMarkerValue;
  }
  *out = static_cast<float>(value);
  return true;
}

bool ConvertTempSixteenths(const uint8_t* raw, float* out) {
  if (raw[2] == kInvalidMarker) return false;
  int sixteenths = raw[1] * 16 + (raw[0] >> 4);
  // A negative reading is the 12-bit two's complement as a whole. Negating the
  // whole-degree byte and the sixteenths separately would lose the carry out
  // of the sixteenths and read every whole negative degree (fraction 0) one
  // degree too warm: -1.0 would become 0.0.
  if (TestBit(raw[1], 7)) sixteenths -= 4096;
  *out = static_cast<float>(sixteenths * 0.0625);
  return true;
}

bool ConvertHumidity(const uint8_t* raw, float* out) {
  if (raw[3] == kInvalidMarker) return false;
  const double ratio = (raw[2] + 112.0) / (raw[3] + 336.0);
  const double humidity = (ratio - kHumidityOffset) * kHumidityPerRatio;
  if (humidity < 0.0) {
    *out = 0.0f;
  } else if (humidity >= 100.0) {
    *out = 100.0f;
  } else {
    *out = static_cast<float>(humidity);
  }
  return true;
}

bool ConvertTempSignMagnitude(const uint8_t* raw, float* out) {
  *out = static_cast<float>(SignMagnitude(raw));
  return true;
}

bool ConvertTempSignMagnitudeChecked(const uint8_t* raw, float* out) {
  if (raw[1] == 0xFF) return false;
  *out = static_cast<float>(SignMagnitude(raw));
  return true;
}

bool ConvertHalves(const uint8_t* raw, float* out) {
  *out = static_cast<float>(raw[2] * 0.5);
  return true;
}

bool ConvertHalvesChecked(const uint8_t* raw, float* out) {
  if (raw[1] == 0xFF) return false;
  *out = static_cast<float>(raw[1] * 0.5);
  return true;
}

bool ConvertHundredths(const uint8_t* raw, float* out) {
  *out = static_cast<float>((raw[3] * 256 + raw[2]) * 0.01);
  return true;
}

}  // namespace tarvo::sensors
