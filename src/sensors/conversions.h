// Conversions of the 4 raw bytes a temperature or humidity module delivers per
// sensor point into an engineering value.
//
// Every conversion reads the bytes b0..b3 at raw[0..3] (each 0..255, in the
// order they arrived on the line) and is a pure function of them. It returns
// true and writes *out, or returns false (the record carries an invalid
// marker) and leaves *out untouched. Arithmetic is done in double and rounded
// to float once, when stored. The raw pointer must address 4 readable bytes;
// neither pointer may be null.
#pragma once

#include <cstdint>

namespace tarvo::sensors {

// The value the two unchecked temperature conversions deliver for a sign byte
// they do not know: an ordinary reading to their callers, never a rejection.
inline constexpr float kMarkerValue = 0.1f;

// Bit (n mod 8) of the low byte of value, as 0 or 1; bit 0 is the least
// significant. Any n is accepted, negative ones included (-1 is bit 7).
int TestBit(uint32_t value, int n);

// Half degrees in b0 with sign byte b1 (0x00 positive, 0xFF negative),
// refined by the count bytes b2 and b3 (no refinement when b3 is 0). Any other
// sign byte gives kMarkerValue. Always true.
bool ConvertTempExtended(const uint8_t* raw, float* out);

// 12-bit two's complement sixteenths of a degree in b1:b0. When the upper
// five bits of b1 are neither all clear nor all set, kMarkerValue. Always
// true.
bool ConvertTemp12(const uint8_t* raw, float* out);

// Whole degrees in b1 and sixteenths in the upper half of b0, together a
// 12-bit two's complement number of sixteenths. Rejects b2 = 0xFE.
bool ConvertTempSixteenths(const uint8_t* raw, float* out);

// Relative humidity in percent from the two converter readings b2 and b3,
// clamped to 0..100. Rejects b3 = 0xFE.
bool ConvertHumidity(const uint8_t* raw, float* out);

// Sixteenths of a degree: an 11-bit magnitude in b3:b2 (low three bits of
// b3), negative when bit 3 of b3 is set (a zero magnitude then gives -0.0).
// Bits 4..7 of b3, b0 and b1 are ignored. Always true.
bool ConvertTempSignMagnitude(const uint8_t* raw, float* out);

// As ConvertTempSignMagnitude, but rejects b1 = 0xFF.
bool ConvertTempSignMagnitudeChecked(const uint8_t* raw, float* out);

// Half units in b2 (0..127.5). Always true.
bool ConvertHalves(const uint8_t* raw, float* out);

// Half units in b1 (0..127); rejects b1 = 0xFF.
bool ConvertHalvesChecked(const uint8_t* raw, float* out);

// Hundredths in the unsigned 16-bit number b3:b2 (0..655.35). Always true.
bool ConvertHundredths(const uint8_t* raw, float* out);

}  // namespace tarvo::sensors
