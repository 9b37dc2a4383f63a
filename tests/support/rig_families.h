// The module and the items every reliability test polls, per family: one
// module at address 26 on a simulated bus, a read item whose healthy value
// is 5.0 (another point lies before it in every answer), and for the
// families that write, one output bit.
#pragma once

#include <cstddef>

#include "sim/bus.h"
#include "tarvo/com.h"

namespace tarvo::test {

inline constexpr int kRigModule = 26;  // "1a" / "1A": a hex letter for the case faults

struct FamilySpec {
  const char* name;
  const CLSID* clsid;
  // Puts the family's module at kRigModule on bus with its points.
  void (*populate)(sim::Bus& bus);
  const char* readAddress;   // a float item
  const char* writeAddress;  // a discrete item; null when the family writes nothing
};

// The five families, in the order the server offers them.
inline constexpr size_t kFamilyCount = 5;
const FamilySpec& Family(size_t index);
// What a healthy module gives every family's read item.
inline constexpr float kHealthyValue = 5.0f;

}  // namespace tarvo::test
