// Resident memory the driver adds to its host's process: one object of each
// class created and its port opened, then one full module of each family
// polled (every item, through an exchange and the fresh path). The lines
// are fake and the modules simulated, set up before the first figure is
// taken. Also prints what each class keeps per module, so the cost of a
// plant of 128 modules per class follows exactly.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/full_rig.h"
#include "driver/read_cycle.h"
#include "pxr5700/pxr5700.h"
#include "pxr5760/pxr5760.h"

namespace {

long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

}  // namespace

int main() {
  using namespace tarvo::bench;
  tarvo::test::FakeSerial serial(1'000'000);
  constexpr int kModule = 5;
  const long start = ResidentKiB();
  std::vector<std::unique_ptr<FullRig>> rigs;
  int32_t port = 1;
  for (Family family : kFamilies)
    rigs.push_back(std::make_unique<FullRig>(serial, port++, family, std::vector<int>{kModule}));
  const long created = ResidentKiB();
  int failures = 0;
  for (auto& rig : rigs) {
    std::vector<tarvo::IoItem> items;
    if (!rig->Arm(kModule) || !rig->Parse(rig->AllAddresses(kModule), &items)) {
      std::fprintf(stderr, "%s\n", rig->error().c_str());
      return 1;
    }
    // Reads that find nothing fresh (the gate still closed) are expected.
    failures += rig->ReadAll(items);
  }
  const long polled = ResidentKiB();
  std::printf("resident memory: start %ld KiB\n", start);
  std::printf("  + 5 objects, ports open:    %+6ld KiB\n", created - start);
  std::printf("  + one module of each polled: %+6ld KiB (total %+ld KiB; %d reads refused)\n",
              polled - created, polled - start, failures);
  std::printf(
      "state per module: pxr5100, pxr5303 and pxr530x %zu B + %zu B per point, "
      "pxr5700 %zu B, pxr5760 %zu B + %zu B per point\n",
      sizeof(tarvo::readcycle::ModuleState), sizeof(tarvo::readcycle::PointState),
      sizeof(tarvo::pxr5700::ModuleState), sizeof(tarvo::pxr5760::ModuleState),
      sizeof(tarvo::pxr5760::PointState));
  return 0;
}
