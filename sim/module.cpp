#include "sim/module.h"

#include <stdexcept>

namespace tarvo::sim {
namespace {

const Faults kHealthy{};

}  // namespace

Module::Module(int address) : address_(address) {
  if (address < 0 || address > 255) throw std::out_of_range("module address outside 0..255");
}

std::vector<Chunk> Module::Respond(std::span<const uint8_t> command, int64_t nowMs) {
  const Faults current = faults();
  if (answersLeft_ > 0) --answersLeft_;
  return ApplyFaults(Answer(command, current, nowMs), current, addressForm(), rng_);
}

void Module::SetFaults(const Faults& faults, int answers) {
  faults_ = faults;
  answersLeft_ = answers < 0 ? kUntilCleared : answers;
  rng_.seed(faults.noise.seed);
}

void Module::ClearFaults() {
  faults_ = {};
  answersLeft_ = 0;
}

const Faults& Module::faults() const { return answersLeft_ == 0 ? kHealthy : faults_; }

}  // namespace tarvo::sim
