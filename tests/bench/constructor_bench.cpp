// Creating a driver object: the class factory's CreateInstance and the
// object's Release, as a host creates and drops one. The class constructor
// resets the process-wide tables of its class, so the cost is measured both
// with empty tables and right after all 128 modules of the class were in use.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "bench/full_rig.h"
#include "bench/per_family.h"

namespace tarvo::bench {
namespace {

void BM_Construct(benchmark::State& state, Family family) {
  IClassFactory* factory = nullptr;
  if (DllGetClassObject(*Spec(family).clsid, IID_IClassFactory,
                        reinterpret_cast<void**>(&factory)) != S_OK) {
    state.SkipWithError("no class factory");
    return;
  }
  for (auto _ : state) {
    void* object = nullptr;
    if (factory->CreateInstance(nullptr, IID_IIoDriver, &object) != S_OK) {
      state.SkipWithError("CreateInstance failed");
      break;
    }
    static_cast<IIoDriver*>(object)->Release();
  }
  factory->Release();
}
const bool kConstructRegistered =
    RegisterPerFamily("BM_Construct", BM_Construct, [](benchmark::internal::Benchmark*) {});

// Every module 0..127 of the class read once through a first object (so
// the tables hold all of them), then a second object created and released:
// only that creation and release is timed.
void BM_ConstructOverFullTables(benchmark::State& state, Family family) {
  test::FakeSerial serial(1'000'000);
  std::vector<int> modules;
  for (int m = 0; m < 128; ++m) modules.push_back(m);
  FullRig rig(serial, 1, family, modules);
  std::vector<IoItem> first;
  std::vector<std::string> addresses;
  for (int m : modules) addresses.push_back(rig.AllAddresses(m).front());
  if (!rig.Parse(addresses, &first)) {
    state.SkipWithError(rig.error().c_str());
    return;
  }
  IClassFactory* factory = nullptr;
  if (DllGetClassObject(*Spec(family).clsid, IID_IClassFactory,
                        reinterpret_cast<void**>(&factory)) != S_OK) {
    state.SkipWithError("no class factory");
    return;
  }
  for (auto _ : state) {
    // Fills the tables: each module is allocated by its first read (a scan,
    // and a refused or served read; the result does not matter here).
    for (const IoItem& item : first) {
      IoItem copy = item;
      IoValue value{};
      rig.driver().ReadItem(0, &copy, &value);
    }
    void* object = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const HRESULT created = factory->CreateInstance(nullptr, IID_IIoDriver, &object);
    if (created == S_OK) static_cast<IIoDriver*>(object)->Release();
    const auto stop = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(stop - start).count());
    if (created != S_OK) {
      state.SkipWithError("CreateInstance failed");
      break;
    }
  }
  factory->Release();
}
const bool kConstructOverFullTablesRegistered = RegisterPerFamily(
    "BM_ConstructOverFullTables", BM_ConstructOverFullTables,
    [](benchmark::internal::Benchmark* b) { b->UseManualTime()->Iterations(20); });

}  // namespace
}  // namespace tarvo::bench
