#include "sim/sensor_encoding.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

namespace tarvo::sim {
namespace {

constexpr int kCountPerDegree = 16;

double Finite(double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("sensor value is not finite");
  return value;
}

// Nearest integer of value * scale, clamped to [low, high].
long Steps(double value, double scale, long low, long high) {
  return std::clamp(std::lround(std::clamp(Finite(value) * scale, -1e9, 1e9)), low, high);
}

// The count bytes for a fraction x of a degree in 0..1: b3 = 16, b2 = 16 - 16x.
void PutCount(RawRecord& record, double x) {
  record[2] = static_cast<uint8_t>(kCountPerDegree - Steps(x, kCountPerDegree, 0, kCountPerDegree));
  record[3] = kCountPerDegree;
}

double Humidity(int b2, int b3) {
  const double h = ((b2 + 112.0) / (b3 + 336.0) - 0.2354) * 210.97046413502107;
  return std::clamp(h, 0.0, 100.0);
}

// "byte b1", "bytes b2 and b3": the bytes from first to last.
std::string ByteList(int first, int last) {
  std::string text = first == last ? "byte " : "bytes ";
  for (int i = first; i <= last; ++i)
    text += (i == first ? "" : i == last ? " and " : ", ") + ("b" + std::to_string(i));
  return text;
}

}  // namespace

void PutTempExtended(RawRecord& record, double degrees) {
  const double t = std::clamp(Finite(degrees), -129.25, 128.25);
  // The positive branch reaches down to -0.25 and the negative one up to
  // -0.75; between them lies a gap, split at its middle.
  if (t >= -0.5) {
    const double above = std::max(t, -0.25);
    const long b0 = Steps(above, 2, 0, 255);
    record[0] = static_cast<uint8_t>(b0);
    record[1] = 0x00;
    PutCount(record, std::clamp(above - b0 * 0.5 + 0.25, 0.0, 1.0));
  } else {
    const double magnitude = -t - 0.25;  // (256 - b0) / 2 + fraction
    const double halves = std::clamp(std::round(2 * (magnitude - 0.5)) / 2, 0.5, 128.0);
    record[0] = static_cast<uint8_t>(256 - std::lround(2 * halves));
    record[1] = 0xFF;
    PutCount(record, std::clamp(magnitude - halves, 0.0, 1.0));
  }
}

void PutTemp12(RawRecord& record, double degrees) {
  const long raw = Steps(degrees, 16, -2048, 2047);
  record[0] = static_cast<uint8_t>(raw & 0xFF);
  record[1] = static_cast<uint8_t>((raw >> 8) & 0xFF);
}

void PutTempSixteenths(RawRecord& record, double degrees) {
  const auto raw = static_cast<uint16_t>(Steps(degrees, 16, -2048, 2047) & 0x0FFF);
  record[1] = static_cast<uint8_t>(raw >> 4);
  record[0] = static_cast<uint8_t>((raw & 0x0F) << 4);
}

void PutHumidity(RawRecord& record, double percent) {
  const double target = std::clamp(Finite(percent), 0.0, 100.0);
  double bestError = std::numeric_limits<double>::infinity();
  for (int b3 = 0; b3 <= 255; ++b3) {
    if (b3 == 0xFE) continue;
    // The b2 for this b3, then its neighbours for rounding and the 0xFE gap.
    const double exact = (target / 210.97046413502107 + 0.2354) * (b3 + 336.0) - 112.0;
    const long guess = std::lround(std::clamp(exact, 0.0, 255.0));
    for (long b2 = guess - 1; b2 <= guess + 1; ++b2) {
      if (b2 < 0 || b2 > 255 || b2 == 0xFE) continue;
      const double error = std::abs(Humidity(static_cast<int>(b2), b3) - target);
      if (error < bestError) {
        bestError = error;
        record[2] = static_cast<uint8_t>(b2);
        record[3] = static_cast<uint8_t>(b3);
      }
    }
  }
}

void PutTempSignMagnitude(RawRecord& record, double degrees) {
  const long raw = Steps(degrees, 16, -2047, 2047);
  const long magnitude = std::abs(raw);
  record[2] = static_cast<uint8_t>(magnitude & 0xFF);
  record[3] = static_cast<uint8_t>((magnitude >> 8) | (raw < 0 ? 0x08 : 0x00));
}

void PutHalves(RawRecord& record, int index, double value) {
  record.at(static_cast<size_t>(index)) = static_cast<uint8_t>(Steps(value, 2, 0, 255));
}

void PutHundredths(RawRecord& record, double value) {
  const long raw = Steps(value, 100, 0, 65535);
  record[2] = static_cast<uint8_t>(raw & 0xFF);
  record[3] = static_cast<uint8_t>(raw >> 8);
}

void PutSignedHalves(RawRecord& record, int index, double value) {
  record.at(static_cast<size_t>(index)) = static_cast<uint8_t>(Steps(value, 2, -128, 127) & 0xFF);
}

void PutQuarters(RawRecord& record, double value) {
  const long raw = Steps(value, 4, 0, 0xFFF);
  record[1] = static_cast<uint8_t>(raw & 0xFF);
  record[2] = static_cast<uint8_t>(raw >> 8);
}

void PutByte(RawRecord& record, int index, double value) {
  record.at(static_cast<size_t>(index)) = static_cast<uint8_t>(Steps(value, 1, 0, 255));
}

RawRecord EncodeRecord(const RecordLayout& layout, std::span<const std::optional<double>> values) {
  RawRecord record{};
  const size_t given = std::min(values.size(), layout.fields.size());
  for (size_t f = 0; f < given; ++f) {
    if (!values[f]) continue;
    const RecordField& field = layout.fields[f];
    for (size_t e = 0; e < f; ++e) {
      const RecordField& earlier = layout.fields[e];
      const int first = std::max(field.first, earlier.first);
      const int last = std::min(field.last, earlier.last);
      if (values[e] && first <= last)
        throw std::invalid_argument(std::string(layout.family) +
                                    " record: " + std::string(earlier.kind) + " and " +
                                    std::string(field.kind) + " share " + ByteList(first, last));
    }
    field.put(record, *values[f]);
  }
  for (size_t f = 0; f < given; ++f) {
    const RecordField& field = layout.fields[f];
    if (values[f] && field.markAt >= 0 &&
        record.at(static_cast<size_t>(field.markAt)) == field.mark)
      record[static_cast<size_t>(field.markAt)] = static_cast<uint8_t>(field.mark - 1);
  }
  return record;
}

}  // namespace tarvo::sim
