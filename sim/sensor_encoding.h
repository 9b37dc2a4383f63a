// Encoders for the 4-byte sensor records (b0..b3, in the order sent) that
// the temperature families' modules send per point. Each writes only the
// bytes its format uses, chooses the bytes whose decoding lies nearest the
// value, and clamps values outside the format's range to its ends. Several
// formats share bytes; a family's record layout combines them, and
// EncodeRecord writes a record of any family from its layout. Every encoder
// throws std::invalid_argument for a value that is not finite.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tarvo::sim {

using RawRecord = std::array<uint8_t, 4>;

// The values a format carries, from min to max inclusive; a reader of
// values refuses the others rather than have them clamped.
struct ValueRange {
  double min;
  double max;
};

inline constexpr ValueRange kTempExtendedRange{-129.25, 128.25};
inline constexpr ValueRange kTemp12Range{-128.0, 127.9375};
inline constexpr ValueRange kTempSixteenthsRange{-128.0, 127.9375};
inline constexpr ValueRange kHumidityRange{0.0, 100.0};
inline constexpr ValueRange kTempSignMagnitudeRange{-127.9375, 127.9375};
inline constexpr ValueRange kHalvesRange{0.0, 127.5};
inline constexpr ValueRange kHundredthsRange{0.0, 655.35};
inline constexpr ValueRange kSignedHalvesRange{-64.0, 63.5};
inline constexpr ValueRange kQuartersRange{0.0, 1023.75};
inline constexpr ValueRange kByteRange{0.0, 255.0};

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

// Halves as an 8-bit two's complement number: -64 to 63.5. Writes b[index].
void PutSignedHalves(RawRecord& record, int index, double value);

// Quarters as a 12-bit number in the low half of b2 and b1: 0 to 1023.75.
// Writes b1, b2 (its upper half 0).
void PutQuarters(RawRecord& record, double value);

// A whole number 0 to 255 as it is (eight bits). Writes b[index].
void PutByte(RawRecord& record, int index, double value);

// One kind of value a family's record carries: the bytes b[first]..b[last]
// it needs and the encoder that writes them.
struct RecordField {
  std::string_view kind;  // as named in errors: "TA"
  int first;
  int last;
  void (*put)(RawRecord& record, double value);
  ValueRange range;  // what put writes without clamping
  // The value that b[markAt] takes to mark this kind's reading invalid; a
  // record that would carry it by chance carries mark - 1 there instead.
  // markAt -1: the kind has no such mark.
  int markAt = -1;
  uint8_t mark = 0;
};

// A family's record: the kinds in the order they are written.
struct RecordLayout {
  std::string_view family;  // as named in errors: "pxr5100"
  std::span<const RecordField> fields;
};

// The record whose bytes decode to the given values as nearly as their
// formats allow; values[i] is the value of layout.fields[i] (none: not
// given, as are fields past the end of values), and bytes no given kind
// uses are 0. Throws std::invalid_argument ("pxr5100 record: TA and WB
// share bytes b2 and b3") when two given kinds need the same bytes, or for
// a value that is not finite.
RawRecord EncodeRecord(const RecordLayout& layout, std::span<const std::optional<double>> values);

}  // namespace tarvo::sim
