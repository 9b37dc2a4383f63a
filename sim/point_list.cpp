#include "sim/point_list.h"

namespace tarvo::sim {

Bytes PointListAnswer(std::string_view digits, uint8_t filler, std::span<const uint8_t> points,
                      const Faults& faults) {
  Bytes listed(points.begin(), points.end());
  if (faults.pointTwice && !listed.empty()) listed.push_back(listed.front());
  if (faults.extraPoint) listed.push_back(*faults.extraPoint);
  // Reserved first: GCC 12 at -O3 takes an insert into a one-byte vector
  // for an out-of-bounds copy (-Warray-bounds) and fails the release build.
  Bytes answer;
  answer.reserve(digits.size() + listed.size() + 4);
  answer.push_back('>');
  answer.insert(answer.end(), digits.begin(), digits.end());
  answer.push_back(filler);
  // N is one byte on the wire; a list longer than 255 cannot be expressed.
  answer.push_back(static_cast<uint8_t>(listed.size()));
  answer.insert(answer.end(), listed.begin(), listed.end());
  answer.push_back(kCr);
  return answer;
}

}  // namespace tarvo::sim
