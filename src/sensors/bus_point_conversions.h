// Conversions of a bus point record (4 bytes b0..b3 at raw[0..3]) into the
// values of its registers. Every record yields every kind of value; none is
// rejected, and the type code, check byte and fault bits a record may carry do
// not change the value. Arithmetic is done in double and rounded to float once.
// The raw pointer must address 4 readable bytes.
#pragma once

#include <cstdint>

namespace tarvo::sensors {

// Temperature (also the loop temperature of a sub-channel): sixteenths of a
// degree, an 11-bit magnitude in b3:b2 (low three bits of b3), negated when
// bit 3 of b3 is set. A zero magnitude with the sign bit gives -0.0.
float BusPointTemperature(const uint8_t* raw);

// b1 read as a signed 8-bit number of half units: -64.0 .. 63.5.
float BusPointHalves(const uint8_t* raw);

// Quarter units in the 12-bit number formed by the low half of b2 and b1;
// the upper half of b2 is ignored.
float BusPointKt(const uint8_t* raw);

// Analog input: the 10-bit reading in the low two bits of b2 and b1, scaled
// so that 1023 gives 5.0 volts. Bits 2..7 of b2 (sub-channel, fault bit) are
// ignored.
float BusPointAnalog(const uint8_t* raw);

// Digital input bit (k mod 8) of b1, as 0 or 1.
int BusPointInputBit(const uint8_t* raw, int k);

// Digital output bit (k mod 8) of b2, as 0 or 1.
int BusPointOutputBit(const uint8_t* raw, int k);

}  // namespace tarvo::sensors
