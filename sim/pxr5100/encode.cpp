#include "sim/pxr5100/encode.h"

#include <array>
#include <stdexcept>
#include <string>

namespace tarvo::sim {
namespace {

// Which kind holds each byte of the record being built.
class ByteOwners {
 public:
  // Claims b[first]..b[last] for `kind`.
  void Claim(const char* kind, int first, int last) {
    for (int i = first; i <= last; ++i) {
      if (owners_[i] != nullptr) {
        throw std::invalid_argument(std::string("pxr5100 record: ") + kind + " and " + owners_[i] +
                                    " both need b" + std::to_string(i));
      }
      owners_[i] = kind;
    }
  }

 private:
  std::array<const char*, 4> owners_{};
};

}  // namespace

RawRecord EncodePxr5100(const Pxr5100Values& values) {
  RawRecord record{};
  ByteOwners owners;
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
  if (values.ua) {
    owners.Claim("UA", 2, 3);
    PutTempSignMagnitude(record, *values.ua);
  }
  if (values.ub) {
    owners.Claim("UB", 2, 2);
    PutHalves(record, 2, *values.ub);
  }
  if (values.wm) {
    owners.Claim("WM", 2, 3);
    PutHundredths(record, *values.wm);
  }
  if (values.wa && record[2] == 0xFE) record[2] = 0xFD;
  return record;
}

}  // namespace tarvo::sim
