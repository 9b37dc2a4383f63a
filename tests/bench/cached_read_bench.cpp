// A cached read: ReadItem through the IIoDriver vtable on the fresh path,
// where the value comes from the record the last exchange left and nothing
// goes on the line; against copying a 4-byte record and converting it.
//
// Fresh flags are used up by the reads, so each iteration times one batch:
// every item the family's exchange left fresh, read once, timed with the
// steady clock (manual time). The exchange that makes them fresh again
// runs between batches, outside the timed region, on the fake line in
// virtual time. A batch in which any read failed or touched the line stops
// the benchmark with an error.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "bench/full_rig.h"
#include "bench/per_family.h"
#include "sensors/conversions.h"

namespace tarvo::bench {
namespace {

// Reads per timed batch, in the baseline and (at least) in every family.
constexpr size_t kBatch = 2048;

void BM_BaselineCopyAndConvert(benchmark::State& state) {
  // A batch of distinct records as large as the larger fresh batches, timed
  // the same way as they are.
  std::vector<std::array<uint8_t, 4>> records(kBatch);
  for (size_t i = 0; i < records.size(); ++i)
    records[i] = {static_cast<uint8_t>(i), 0x00, static_cast<uint8_t>(i >> 3), 0x10};
  double seconds = 0.0;
  int64_t reads = 0;
  for (auto _ : state) {
    float value = 0.0f;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& record : records) {
      uint8_t raw[4];
      std::memcpy(raw, record.data(), sizeof raw);
      benchmark::DoNotOptimize(raw);
      sensors::ConvertTempExtended(raw, &value);
      benchmark::DoNotOptimize(value);
    }
    const auto stop = std::chrono::steady_clock::now();
    const double batch = std::chrono::duration<double>(stop - start).count();
    state.SetIterationTime(batch);
    seconds += batch;
    reads += static_cast<int64_t>(records.size());
  }
  state.counters["ns_per_read"] = seconds * 1e9 / static_cast<double>(reads);
}
BENCHMARK(BM_BaselineCopyAndConvert)->UseManualTime();

// The fresh items of one module, from a rig of its own.
size_t FreshPerModule(Family family) {
  test::FakeSerial serial(1'000'000);
  FullRig rig(serial, 1, family, {0});
  return rig.Arm(0) ? rig.FreshItems(0).size() : 0;
}

void BM_CachedRead(benchmark::State& state, Family family) {
  // As many modules as make a batch of at least kBatch reads, so that the
  // two clock readings around a batch weigh as little as in the baseline
  // (one pxr5700 module leaves only 16 values fresh).
  const size_t perModule = FreshPerModule(family);
  if (perModule == 0) {
    state.SkipWithError("no fresh items");
    return;
  }
  const int count = static_cast<int>(std::min<size_t>((kBatch + perModule - 1) / perModule, 128));
  std::vector<int> modules(static_cast<size_t>(count));
  std::iota(modules.begin(), modules.end(), 0);

  test::FakeSerial serial(1'000'000);
  FullRig rig(serial, 1, family, modules);
  std::vector<IoItem> fresh;
  for (int module : modules) {
    if (!rig.Arm(module)) {
      state.SkipWithError(rig.error().c_str());
      return;
    }
    const std::vector<IoItem> items = rig.FreshItems(module);
    if (items.empty()) {
      state.SkipWithError(("no fresh items: " + rig.error()).c_str());
      return;
    }
    fresh.insert(fresh.end(), items.begin(), items.end());
  }
  IIoDriver* driver = &rig.driver();
  std::vector<IoItem> items(fresh.size());
  int64_t reads = 0;
  double seconds = 0.0;
  for (auto _ : state) {
    for (int module : modules) {
      if (!rig.Arm(module)) {
        state.SkipWithError(rig.error().c_str());
        return;
      }
    }
    items = fresh;
    const size_t writes = rig.line().writes().size();
    int32_t succeeded = 0;
    IoValue value{};
    const auto start = std::chrono::steady_clock::now();
    for (IoItem& item : items) succeeded += driver->ReadItem(0, &item, &value);
    const auto stop = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(value);
    const double batch = std::chrono::duration<double>(stop - start).count();
    state.SetIterationTime(batch);
    seconds += batch;
    if (succeeded != static_cast<int32_t>(items.size()) || rig.line().writes().size() != writes) {
      state.SkipWithError("a fresh read failed or went to the line");
      break;
    }
    reads += succeeded;
  }
  state.counters["modules"] = count;
  state.counters["reads_per_batch"] = static_cast<double>(fresh.size());
  if (reads > 0) state.counters["ns_per_read"] = seconds * 1e9 / static_cast<double>(reads);
}
const bool kCachedReadRegistered = RegisterPerFamily(
    "BM_CachedRead", BM_CachedRead, [](benchmark::internal::Benchmark* b) { b->UseManualTime(); });

}  // namespace
}  // namespace tarvo::bench
