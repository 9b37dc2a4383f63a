// Encoders for the 4-byte sensor records (b0..b3, in the order sent) that
// the temperature families' modules send per point. Each writes only the
// bytes its format uses, chooses the bytes whose decoding lies nearest the
// value, and clamps values outside the format's range to its ends. Several
// formats share bytes; a family combines them (see the family's encoder).
// Every encoder throws std::invalid_argument for a value that is not finite.
#pragma once

#include <array>
#include <cstdint>

namespace tarvo::sim {

using RawRecord = std::array<uint8_t, 4>;

// Half degrees in b0 with the sign byte b1 (0x00 or 0xFF), refined by the
// count bytes b2 (remaining) and b3 (per degree, always 16):
//   b1 = 0x00: t = (b3 - b2) / b3 + b0 / 2 - 0.25
//   b1 = 0xFF: t = -(256 - b0) / 2 - 0.25 - (b3 - b2) / b3
// Steps of 1/16 degree from -129.25 to 128.25, except that no value lies
// strictly between -0.75 and -0.25. Writes b0..b3.
void PutTempExtended(RawRecord& record, double degrees);

// Sixteenths of a degree as 12-bit two's complement in b1:b0; -128.0 to
// 127.9375. Writes b0, b1.
void PutTemp12(RawRecord& record, double degrees);

// Whole degrees in b1 and sixteenths in the upper half of b0, together a
// 12-bit two's complement number of sixteenths: -128.0 to 127.9375. Writes
// b0 (lower half 0), b1; the validity byte b2
// is the caller's (0xFE marks the reading invalid).
void PutTempSixteenths(RawRecord& record, double degrees);

// Relative humidity 0..100 % from the two converter readings b2, b3:
//   h = ((b2 + 112) / (b3 + 336) - 0.2354) / 0.00474, clamped to 0..100.
// Never writes 0xFE into b2 or b3 (b3 = 0xFE marks the reading invalid,
// and a b2 of 0xFE does so for a temperature in the same record); the
// nearest of the readings' values, which lie at most 0.18 % apart. Writes
// b2, b3.
void PutHumidity(RawRecord& record, double percent);

// Sixteenths of a degree as an 11-bit magnitude in b3:b2 with the sign in
// bit 3 of b3; -127.9375 to 127.9375. Writes b2, b3.
void PutTempSignMagnitude(RawRecord& record, double degrees);

// Halves in one byte: 0 to 127.5. Writes b[index].
void PutHalves(RawRecord& record, int index, double value);

// Hundredths as an unsigned 16-bit number in b3:b2: 0 to 655.35. Writes b2, b3.
void PutHundredths(RawRecord& record, double value);

}  // namespace tarvo::sim
