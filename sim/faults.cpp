#include "sim/faults.h"

#include <algorithm>

namespace tarvo::sim {
namespace {

uint8_t OtherCase(uint8_t c) {
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 'a');
  return c;
}

std::vector<Chunk> Cut(Bytes bytes, const Faults& faults) {
  std::vector<Chunk> chunks;
  if (bytes.empty()) return chunks;
  const size_t pieces = std::clamp<size_t>(faults.pieces < 1 ? 1 : faults.pieces, 1, bytes.size());
  size_t start = 0;
  for (size_t i = 0; i < pieces; ++i) {
    // Spread the remainder over the first pieces so sizes differ by one at most.
    const size_t size = bytes.size() / pieces + (i < bytes.size() % pieces ? 1 : 0);
    chunks.push_back({faults.delayMs + static_cast<int64_t>(i) * faults.gapMs,
                      Bytes(bytes.begin() + start, bytes.begin() + start + size)});
    start += size;
  }
  return chunks;
}

}  // namespace

std::vector<Chunk> ApplyFaults(Bytes answer, const Faults& faults, const AddressForm& address,
                               std::mt19937& rng) {
  if (faults.silent || answer.empty()) return {};
  if (faults.head) answer[0] = *faults.head;
  const size_t digits = address.offset;
  const bool hasDigits = address.present && digits < answer.size() && answer.size() - digits >= 2;
  if (faults.swapAddressCase && hasDigits) {
    answer[digits] = OtherCase(answer[digits]);
    answer[digits + 1] = OtherCase(answer[digits + 1]);
  }
  if (faults.fromAddress && hasDigits) {
    const std::string other = HexAddress(*faults.fromAddress, address.letterCase);
    answer[digits] = static_cast<uint8_t>(other[0]);
    answer[digits + 1] = static_cast<uint8_t>(other[1]);
  }
  if (faults.dropFinalCr && !answer.empty() && answer.back() == kCr) answer.pop_back();
  if (faults.truncateTo && *faults.truncateTo < answer.size()) answer.resize(*faults.truncateTo);
  answer.insert(answer.end(), faults.padding, faults.padByte);
  if (faults.noise.count > 0) {
    Bytes noise(faults.noise.count);
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& b : noise) {
      b = faults.noise.fixed ? *faults.noise.fixed : static_cast<uint8_t>(byte(rng));
    }
    if (!faults.noise.replaceAnswer) noise.insert(noise.end(), answer.begin(), answer.end());
    answer = std::move(noise);
  }
  return Cut(std::move(answer), faults);
}

}  // namespace tarvo::sim
