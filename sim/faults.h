// The faults a simulated module can be switched to, and what they do to an
// answer. The switches apply to every family's answers; the point-list
// switches only to families whose scan answers list point numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "sim/bytes.h"
#include "sim/chunk.h"

namespace tarvo::sim {

// Noise bytes sent before the answer or in its place.
struct Noise {
  size_t count = 0;            // 0: no noise
  bool replaceAnswer = false;  // true: the noise instead of the answer
  // Every noise byte is this value; unset: pseudo-random bytes, repeatable
  // for a given seed.
  std::optional<uint8_t> fixed{};
  uint32_t seed = 1;
};

// A set of switches; the default value is a healthy module. Switched on per
// module, e.g. module.SetFaults({.delayMs = 600, .pieces = 3}, 2).
struct Faults {
  bool silent = false;                 // no answer at all (the module still acts on the command)
  std::optional<uint8_t> head{};       // byte 0 of the answer replaced by this byte
  bool swapAddressCase = false;        // hex letters among the address digits in the other case
  std::optional<int> fromAddress{};    // the address digits of this other address (0..255)
  std::optional<size_t> truncateTo{};  // only the first this many bytes of the answer
  bool dropFinalCr = false;            // a CR that ends the answer left off
  size_t padding = 0;                  // this many bytes appended (an over-long answer)
  uint8_t padByte = 0x55;
  Noise noise{};
  int64_t delayMs = 0;  // extra time before the first byte
  int pieces = 1;       // the answer cut into this many pieces (no more than it has bytes)
  int64_t gapMs = 0;    // between the pieces
  // Point lists (scan answers):
  std::optional<uint8_t> extraPoint{};  // this point number appended to the list, counted in N
  bool pointTwice = false;              // the first listed point listed once more, counted in N
};

// Where the answer carries the address digits, and how the family writes an
// address; supplied by the module so the address faults fit every family.
struct AddressForm {
  bool present = true;  // false: the answers carry no address; address faults do nothing
  size_t offset = 1;    // index of the first of the two digits
  HexCase letterCase = HexCase::kLower;
};

// Applies the answer faults of `faults` to a healthy answer, in this order:
// head, address case, other address, final CR dropped, truncation, padding,
// noise; then cuts the result into chunks due `delayMs`, `delayMs + gapMs`,
// ... after the command. An empty healthy answer (the module stays silent)
// and `silent` give no chunk; so does a result of no bytes. Edits that reach
// past the end of a short answer are left out. `rng` supplies random noise
// and is reseeded from `faults.noise.seed` by the caller.
std::vector<Chunk> ApplyFaults(Bytes answer, const Faults& faults, const AddressForm& address,
                               std::mt19937& rng);

}  // namespace tarvo::sim
