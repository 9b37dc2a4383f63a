// A long run on the fake line: 10,000 polls over the five families, mixing
// healthy polls with every module fault, rescans (another object of the
// class resets the tables) and line closes and reopens. The heap the
// process holds, and its open descriptors, must end where they were after
// the first cycle, so nothing accumulates per poll, per fault, per scan or
// per line.
#include <dirent.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "gtest/gtest.h"
#include "server/server_classes.h"
#include "sim/faults.h"
#include "support/family_rig.h"
#include "tarvo/guids.h"

#if defined(__SANITIZE_ADDRESS__)
// From the AddressSanitizer runtime (its header comes with clang only).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace tarvo::test {
namespace {

// Bytes the program holds on the heap (under AddressSanitizer, what its
// allocator counts as in use; freed blocks waiting in its quarantine are
// not).
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  return mallinfo2().uordblks;
#endif
}

size_t OpenDescriptors() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

constexpr int kPolls = 10'000;
constexpr int64_t kCycleMs = 2000;

// Every fault of the fault matrix, and none.
const std::vector<sim::Faults>& Schedule() {
  static const std::vector<sim::Faults> schedule = {
      {},
      {.silent = true},
      {.head = uint8_t{'?'}},
      {.swapAddressCase = true},
      {.fromAddress = 27},
      {.truncateTo = 7},
      {.dropFinalCr = true},
      {.padding = 3000},
      {.noise = {.count = 6}},
      {.delayMs = 700},
      {.pieces = 3, .gapMs = 50},
      {.extraPoint = 64},
      {.pointTwice = true},
  };
  return schedule;
}

// One cycle of a family: the tables reset by a second object of the class
// (so the first read rescans), then every fault on a read and, for the
// families that write, on a write, each followed by a healthy poll a host
// cycle later; at the end the line closed and opened again. Returns the
// polls made.
int Cycle(FamilyRig& rig, const FamilySpec& spec) {
  void* other = nullptr;
  if (FindServerClass(*spec.clsid)->create(IID_IIoDriver, &other) == S_OK)
    static_cast<IIoDriver*>(other)->Release();
  int polls = 0;
  const bool writes = spec.writeAddress != nullptr;
  for (const sim::Faults& faults : Schedule()) {
    for (Operation operation : {Operation::kRead, Operation::kWrite}) {
      if (operation == Operation::kWrite && !writes) continue;
      rig.module().SetFaults(faults);
      rig.Poll(operation);
      rig.module().ClearFaults();
      rig.Wait(kCycleMs);
      rig.Poll(operation);
      rig.Wait(kCycleMs);
      polls += 2;
      rig.serial().line(1).ClearRecords();
      rig.serial().clock().ClearSleeps();
    }
  }
  rig.driver().ClosePort(0);
  rig.OpenPort();
  return polls;
}

TEST(LongRun, TenThousandPollsLeaveHeapAndDescriptorsWhereTheyWere) {
  std::vector<std::unique_ptr<FamilyRig>> rigs;
  for (size_t family = 0; family < kFamilyCount; ++family) {
    rigs.push_back(std::make_unique<FamilyRig>(Family(family)));
    rigs.back()->bus().log().SetCapacity(16);
  }
  int polls = 0;
  // The first cycle allocates what stays: module states, buffers at their
  // largest, the log at its capacity.
  for (size_t family = 0; family < kFamilyCount; ++family)
    polls += Cycle(*rigs[family], Family(family));
  const size_t heap = HeapInUse();
  const size_t descriptors = OpenDescriptors();

  while (polls < kPolls)
    for (size_t family = 0; family < kFamilyCount && polls < kPolls; ++family)
      polls += Cycle(*rigs[family], Family(family));

  const size_t heapAfter = HeapInUse();
  std::printf("%d polls: heap %zu bytes after the first cycle, %zu at the end\n", polls, heap,
              heapAfter);
  EXPECT_LE(heapAfter, heap + 1024);
  EXPECT_EQ(OpenDescriptors(), descriptors);
  for (const auto& rig : rigs) EXPECT_EQ(rig->serial().line(1).usesAfterClose(), 0);
}

}  // namespace
}  // namespace tarvo::test
