// A plant of pxr5100 modules with a sensor at all 64 points of every
// channel, polled as a host polls it: every kind of every point of every
// module, channel by channel, with the host's pause between channels (the
// fake clock's 2 seconds, so every module's gate has opened again). One
// iteration is one full cycle: 8 block reads and 3584 reads per module. The
// CPU time counts the driver and, under it, the fake line and the simulator
// answering the block reads. Fitted against the number of modules, it must
// grow linearly.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/full_rig.h"

namespace tarvo::bench {
namespace {

constexpr const char* kKinds[] = {"TA", "TB", "WA", "WB", "UA", "UB", "WM"};

void BM_Pxr5100Cycle(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  test::FakeSerial serial(1'000'000);
  std::vector<int> modules;
  for (int m = 0; m < count; ++m) modules.push_back(m);
  FullRig rig(serial, 1, Family::kPxr5100, modules);
  // By channel, then module, point and kind.
  std::vector<std::vector<IoItem>> channels(8);
  for (int c = 0; c < 8; ++c) {
    std::vector<std::string> addresses;
    for (int m : modules)
      for (int p = 0; p < 64; ++p)
        for (const char* kind : kKinds)
          addresses.push_back(kind + std::to_string(m) + "." + std::to_string(c) + "." +
                              std::to_string(p));
    if (!rig.Parse(addresses, &channels[static_cast<size_t>(c)])) {
      state.SkipWithError(rig.error().c_str());
      return;
    }
  }
  IIoDriver* driver = &rig.driver();
  auto cycle = [&] {
    int failed = 0;
    for (auto& items : channels) {
      serial.clock().Advance(2000);
      for (IoItem& item : items) {
        IoValue value{};
        if (driver->ReadItem(0, &item, &value) != 1) ++failed;
      }
    }
    return failed;
  };
  cycle();  // scans every module
  for (auto _ : state) {
    if (cycle() != 0) {
      state.SkipWithError("a read of the cycle failed");
      break;
    }
  }
  state.SetComplexityN(count);
  state.counters["reads_per_cycle"] = 8.0 * count * 64 * 7;
}
BENCHMARK(BM_Pxr5100Cycle)
    ->Arg(8)
    ->Arg(16)
    ->Arg(32)
    ->Arg(64)
    ->Arg(128)
    ->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

}  // namespace
}  // namespace tarvo::bench
