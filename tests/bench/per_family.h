// Registers one Google Benchmark per family, named NAME/<family>, each
// calling function(state, family); configure(benchmark) sets its options.
#pragma once

#include <benchmark/benchmark.h>

#include <string>

#include "bench/full_rig.h"

namespace tarvo::bench {

template <class Function, class Configure>
bool RegisterPerFamily(const char* name, Function function, Configure configure) {
  for (Family family : kFamilies) {
    const std::string full = std::string(name) + "/" + Spec(family).name;
    configure(benchmark::RegisterBenchmark(full.c_str(), function, family));
  }
  return true;
}

}  // namespace tarvo::bench
