#include "sim/pxr530x/encode.h"

#include <array>
#include <stdexcept>
#include <string>

namespace tarvo::sim {
namespace {

// Which kind holds each byte of the record being built.
class ByteOwners {
 public:
  explicit ByteOwners(const char* family) : family_(family) {}
  // Claims b[first]..b[last] for `kind`.
  void Claim(const char* kind, int first, int last) {
    for (int i = first; i <= last; ++i) {
      if (owners_[i] != nullptr) {
        throw std::invalid_argument(std::string(family_) + " record: " + kind + " and " +
                                    owners_[i] + " both need b" + std::to_string(i));
      }
      owners_[i] = kind;
    }
  }

 private:
  const char* family_;
  std::array<const char*, 4> owners_{};
};

}  // namespace

RawRecord EncodePxr5303(const SensorValues& values) {
  RawRecord record{};
  ByteOwners owners("pxr5303");
  if (values.ta) {
    owners.Claim("TA", 0, 3);
    PutTempExtended(record, *values.ta);
  }
  if (values.tb) {
    owners.Claim("TB", 0, 1);
    PutTemp12(record, *values.tb);
  }
  if (values.wa) {
    owners.Claim("WA", 2, 3);
    PutTempSignMagnitude(record, *values.wa);
  }
  if (values.wb) {
    owners.Claim("WB", 1, 1);
    PutHalves(record, 1, *values.wb);
    if (record[1] == 0xFF) record[1] = 0xFE;
  }
  return record;
}

RawRecord EncodePxr530x(const SensorValues& values) {
  RawRecord record{};
  ByteOwners owners("pxr530x");
  if (values.ta) {
    owners.Claim("TA", 0, 3);
    PutTempExtended(record, *values.ta);
  }
  if (values.tb) {
    owners.Claim("TB", 0, 1);
    PutTemp12(record, *values.tb);
  }
  if (values.wa) {
    owners.Claim("WA", 0, 1);
    PutTempSixteenths(record, *values.wa);
  }
  if (values.wb) {
    owners.Claim("WB", 2, 3);
    PutHumidity(record, *values.wb);
  }
  if (values.wa && record[2] == 0xFE) record[2] = 0xFD;
  return record;
}

}  // namespace tarvo::sim
