// Item addresses: the numeric parts the families' ParseItem read, and the
// module address as it travels in commands.
#pragma once

#include <array>
#include <cstdint>

#include "driver/driver_base.h"
#include "tarvo/records.h"

namespace tarvo {

// Value of the decimal digit run starting at text, modulo 2^16, so a run of
// any length yields its low 16 bits; *end (if given) receives the first
// character after the run. No digits give 0.
uint16_t ParseDigitRun(const char* text, const char** end = nullptr);

// Reads the dotted part of an address: the numbers behind the first "." and
// behind the next "." after it (0 where no digit follows a point). Text
// between and behind the numbers is ignored. Returns false, leaving the
// outputs alone, when there is no first point, nothing after it, or no
// second point. The numbers are the low 16 bits of their decimal values.
bool ParseChannelPoint(const char* text, int16_t* first, int16_t* second);

// The three-number dotted part ".channel.point.sub-index": the numbers
// behind the first ".", behind the next "." after it and behind the next "."
// after that (0 where no digit follows a point). Text between and behind the
// numbers is ignored. Returns false, leaving the outputs alone, when any of
// the three points is missing.
bool ParsePointAddress3(const char* text, int16_t* first, int16_t* second, int16_t* third);

// The module number of an address whose register name takes its first two
// characters: up to maxDigits decimal digits right behind the name. False
// when none is there.
bool ParseModuleDigits(const char* address, int maxDigits, int32_t* module);

struct SensorAddressLimits {
  int16_t lastChannel;
  int16_t lastPoint;
};

// ParseItem of the sensor families: a register name from the driver's
// table, one to three module digits right behind it, then ".channel.point".
// Fills RegisterIndex (1-based), ModuleAddress, Channel and Point of *item.
// Checks in order: register name (code 1), DataType 128 (9), module digit
// (1), dotted part (21), module 0..127 (18), channel (19), point (20). Fields
// stored before a failing check stay in the item. Returns the driver's
// result: 1 with ErrOk, or 0 with the failing code stored.
int32_t ParseSensorItem(DriverBase& driver, const char* address, IoItem* item,
                        SensorAddressLimits limits);

// How a family writes the module address in its commands.
enum class HexCase { kLower, kUpper };

// The two hexadecimal digits of module (0..255) in the family's case.
std::array<uint8_t, 2> AddressDigits(int module, HexCase letters);

}  // namespace tarvo
