// Every family against every fault a module or its line can show, in every
// exchange the family has: the scan a module's first read runs, the poll of
// a scanned module, and the output write. Each row states what the poll
// does: the code (result 1 for code 0, else 0), the value delivered or the
// record left untouched, the commands the module took and the virtual time
// the poll blocked; and that the next poll after the fault is gone (one
// host cycle of 2 s later) succeeds with the healthy value, with the number
// of commands it takes. Transfer time-out 300 ms; the scans use 100 ms.
#include <string>

#include "gtest/gtest.h"
#include "sim/faults.h"
#include "support/family_rig.h"

namespace tarvo::test {
namespace {

// The host polls every 2 s: each gate has opened again by the next poll.
constexpr int64_t kCycleMs = 2000;

enum class Phase {
  kScan,   // the first read of a module: its scan, then the read
  kRead,   // a read of a module scanned in the previous cycle
  kWrite,  // an output write, one cycle after the object was created
};

struct Row {
  const char* fault;
  sim::Faults faults;  // on for every answer of the poll
  Phase phase;
  DriverError code;
  size_t exchanges;
  int64_t ms;
  // Reads that succeed deliver this value.
  float value;
  // Commands of the next poll once the fault is gone.
  size_t recovery;
};

// The faults. Addresses 26 and 27 are "1a" and "1b" ("1A", "1B").
const sim::Faults kSilent{.silent = true};
const sim::Faults kHead{.head = uint8_t{'?'}};
const sim::Faults kCase{.swapAddressCase = true};
const sim::Faults kOther{.fromAddress = 27};
const sim::Faults kNoCr{.dropFinalCr = true};
const sim::Faults kOverLong{.padding = 3000};  // beyond every receive buffer
const sim::Faults kGarbage{.noise = {.count = 6}};
const sim::Faults kLate{.delayMs = 700};
const sim::Faults kPieces{.pieces = 3, .gapMs = 50};
// The second half comes 700 ms after the first, after the driver has read.
const sim::Faults kSplit{.pieces = 2, .gapMs = 700};
const sim::Faults kTwice{.pointTwice = true};
sim::Faults Truncated(size_t bytes) { return {.truncateTo = bytes}; }
sim::Faults PointBeyond(uint8_t point) { return {.extraPoint = point}; }

constexpr float kNone = kUntouchedAnalog;  // the value of rows that fail

// A point list of channel 0 is 8 bytes: ">" mm, the channel, N = 2, the
// points 0 and 1, CR; 7 cut off its CR. Block answers: ">" mm, 2 bytes,
// then the records; 9 keeps the record of point 0 only. A scan that fails
// costs 200 ms per question; a later read then rescans.
// clang-format off
const Row kPxr5100[] = {
    {"silent",            kSilent,         Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"wrong_head",        kHead,           Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"wrong_case_digits", kCase,           Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"other_address",     kOther,          Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"truncated",         Truncated(7),    Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"missing_cr",        kNoCr,           Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"late",              kLate,           Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    // Tolerated: the scan completes; the gate, 2 s from the object's
    // creation, is still shut.
    {"in_pieces",         kPieces,         Phase::kScan, ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"split_across_read", kSplit,      Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    {"over_long",         kOverLong,       Phase::kScan, ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"point_beyond",      PointBeyond(64), Phase::kScan, ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"point_twice",       kTwice,          Phase::kScan, ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"garbage",           kGarbage,        Phase::kScan, ErrInitModule,      1,  200, kNone, 9},
    // A block read waits the time-out twice before each of its reads; a
    // read that finds nothing pauses 500 ms and sends the command again,
    // three times at most. A late answer always comes after its read and
    // is purged by the next command.
    {"silent",            kSilent,         Phase::kRead, ErrReadData,        3, 3300, kNone, 1},
    {"wrong_head",        kHead,           Phase::kRead, ErrReadData,        1,  600, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kRead, ErrReadData,        1,  600, kNone, 1},
    {"other_address",     kOther,          Phase::kRead, ErrReadData,        1,  600, kNone, 1},
    // A point whose record did not arrive whole has nothing to deliver.
    {"truncated",         Truncated(9),    Phase::kRead, ErrReadData,        1,  600, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kRead, ErrOk,              1,  600, 5.0f, 1},
    {"late",              kLate,           Phase::kRead, ErrReadData,        3, 3300, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kRead, ErrOk,              1,  600, 5.0f, 1},
    {"split_across_read", kSplit,      Phase::kRead, ErrReadData,        1,  600, kNone, 1},
    {"over_long",         kOverLong,       Phase::kRead, ErrOk,              1,  600, 5.0f, 1},
    {"point_beyond",      PointBeyond(64), Phase::kRead, ErrOk,              1,  600, 5.0f, 1},
    {"point_twice",       kTwice,          Phase::kRead, ErrOk,              1,  600, 5.0f, 1},
    {"garbage",           kGarbage,        Phase::kRead, ErrReadData,        1,  600, kNone, 1},
};

// The scan asks "$" (counts; no CR), "*" for channel 0's list, then a
// block answer for the points of channel 1, each after 100 + 200 ms (the
// first after 200). A read after a failed scan rescans (3) and reads (1).
// A block read waits the time-out before each read, and 2000 ms more after
// a wrong or missing answer.
const Row kPxr5303[] = {
    {"silent",            kSilent,         Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"wrong_head",        kHead,           Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"wrong_case_digits", kCase,           Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"other_address",     kOther,          Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    // An answer cut short fails the scan: the "$" answer without its last
    // count, the "*" answer without its CR.
    {"truncated",         Truncated(7),    Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"missing_cr",        kNoCr,           Phase::kScan, ErrInitModule,      2,  500, kNone, 4},
    {"late",              kLate,           Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"in_pieces",         kPieces,         Phase::kScan, ErrDelayNotElapsed, 3,  800, kNone, 1},
    {"split_across_read", kSplit,      Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"over_long",         kOverLong,       Phase::kScan, ErrDelayNotElapsed, 3,  800, kNone, 1},
    {"point_beyond",      PointBeyond(16), Phase::kScan, ErrDelayNotElapsed, 3,  800, kNone, 1},
    {"point_twice",       kTwice,          Phase::kScan, ErrDelayNotElapsed, 3,  800, kNone, 1},
    {"garbage",           kGarbage,        Phase::kScan, ErrInitModule,      1,  200, kNone, 4},
    {"silent",            kSilent,         Phase::kRead, ErrReadData,        3, 4400, kNone, 1},
    {"wrong_head",        kHead,           Phase::kRead, ErrReadData,        1, 2300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kRead, ErrReadData,        1, 2300, kNone, 1},
    {"other_address",     kOther,          Phase::kRead, ErrReadData,        1, 2300, kNone, 1},
    {"truncated",         Truncated(9),    Phase::kRead, ErrReadData,        1,  300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kRead, ErrOk,              1,  300, 5.0f, 1},
    {"late",              kLate,           Phase::kRead, ErrReadData,        3, 4400, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kRead, ErrOk,              1,  300, 5.0f, 1},
    {"split_across_read", kSplit,      Phase::kRead, ErrReadData,        1,  300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kRead, ErrOk,              1,  300, 5.0f, 1},
    {"point_beyond",      PointBeyond(16), Phase::kRead, ErrOk,              1,  300, 5.0f, 1},
    {"point_twice",       kTwice,          Phase::kRead, ErrOk,              1,  300, 5.0f, 1},
    {"garbage",           kGarbage,        Phase::kRead, ErrReadData,        1, 2300, kNone, 1},
};

// No gate: the first read scans all 8 channels, waits 10000 ms and reads
// the block, so a tolerated scan fault ends in a value. A point list
// without a valid head on channel 0 fails the scan.
const Row kPxr530x[] = {
    {"silent",            kSilent,         Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"wrong_head",        kHead,           Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"wrong_case_digits", kCase,           Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"other_address",     kOther,          Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"truncated",         Truncated(7),    Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"missing_cr",        kNoCr,           Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"late",              kLate,           Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"in_pieces",         kPieces,         Phase::kScan, ErrOk,         9, 11900, 5.0f,  1},
    {"split_across_read", kSplit,      Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"over_long",         kOverLong,       Phase::kScan, ErrOk,         9, 11900, 5.0f,  1},
    {"point_beyond",      PointBeyond(64), Phase::kScan, ErrOk,         9, 11900, 5.0f,  1},
    {"point_twice",       kTwice,          Phase::kScan, ErrOk,         9, 11900, 5.0f,  1},
    {"garbage",           kGarbage,        Phase::kScan, ErrInitModule, 1,   200, kNone, 9},
    {"silent",            kSilent,         Phase::kRead, ErrReadData,   3, 14400, kNone, 1},
    {"wrong_head",        kHead,           Phase::kRead, ErrReadData,   1, 12300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kRead, ErrReadData,   1, 12300, kNone, 1},
    {"other_address",     kOther,          Phase::kRead, ErrReadData,   1, 12300, kNone, 1},
    {"truncated",         Truncated(9),    Phase::kRead, ErrReadData,   1, 10300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kRead, ErrOk,         1, 10300, 5.0f,  1},
    {"late",              kLate,           Phase::kRead, ErrReadData,   3, 14400, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kRead, ErrOk,         1, 10300, 5.0f,  1},
    {"split_across_read", kSplit,      Phase::kRead, ErrReadData,   1, 10300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kRead, ErrOk,         1, 10300, 5.0f,  1},
    {"point_beyond",      PointBeyond(64), Phase::kRead, ErrOk,         1, 10300, 5.0f,  1},
    {"point_twice",       kTwice,          Phase::kRead, ErrOk,         1, 10300, 5.0f,  1},
    {"garbage",           kGarbage,        Phase::kRead, ErrReadData,   1, 12300, kNone, 1},
};

// One exchange per poll: the command, the time-out, one read. Only byte 0
// of a reply is examined, so a reply with other address digits is taken.
// A TA reply is 14 bytes (">" mm "3," and two 4-byte readings, CR) and
// must hold both readings; a write's echo is 5 bytes ("!" mm, the output
// byte, CR) and must hold the byte.
const Row kPxr5700[] = {
    {"silent",            kSilent,         Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"wrong_head",        kHead,           Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"other_address",     kOther,          Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"truncated",         Truncated(9),    Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"late",              kLate,           Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"split_across_read", kSplit,      Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"point_beyond",      PointBeyond(64), Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"point_twice",       kTwice,          Phase::kRead,  ErrOk,       1, 300, 5.0f,  1},
    {"garbage",           kGarbage,        Phase::kRead,  ErrPortRead, 1, 300, kNone, 1},
    {"silent",            kSilent,         Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
    {"wrong_head",        kHead,           Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"other_address",     kOther,          Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"truncated",         Truncated(3),    Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"late",              kLate,           Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"split_across_read", kSplit,      Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"point_beyond",      PointBeyond(64), Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"point_twice",       kTwice,          Phase::kWrite, ErrOk,       1, 300, kNone, 1},
    {"garbage",           kGarbage,        Phase::kWrite, ErrPortRead, 1, 300, kNone, 1},
};

// Scans and block reads as the pxr5100's and pxr5303's; the write ("!" mm
// CR acknowledges) shares the gate and makes up to three passes. A pass
// without any answer lasts 3 x (300 + 500) ms, long enough for the gate to
// reopen for the next; after a wrong answer the gate is still shut.
const Row kPxr5760[] = {
    {"silent",            kSilent,         Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"wrong_head",        kHead,           Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"wrong_case_digits", kCase,           Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"other_address",     kOther,          Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"truncated",         Truncated(7),    Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"missing_cr",        kNoCr,           Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"late",              kLate,           Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"in_pieces",         kPieces,         Phase::kScan,  ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"split_across_read", kSplit,      Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"over_long",         kOverLong,       Phase::kScan,  ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"point_beyond",      PointBeyond(32), Phase::kScan,  ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"point_twice",       kTwice,          Phase::kScan,  ErrDelayNotElapsed, 8, 1600, kNone, 1},
    {"garbage",           kGarbage,        Phase::kScan,  ErrInitModule,      1,  200, kNone, 9},
    {"silent",            kSilent,         Phase::kRead,  ErrReadData,        3, 4400, kNone, 1},
    {"wrong_head",        kHead,           Phase::kRead,  ErrReadData,        1, 2300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kRead,  ErrReadData,        1, 2300, kNone, 1},
    {"other_address",     kOther,          Phase::kRead,  ErrReadData,        1, 2300, kNone, 1},
    {"truncated",         Truncated(9),    Phase::kRead,  ErrReadData,        1,  300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kRead,  ErrOk,              1,  300, 5.0f,  1},
    {"late",              kLate,           Phase::kRead,  ErrReadData,        3, 4400, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kRead,  ErrOk,              1,  300, 5.0f,  1},
    {"split_across_read", kSplit,      Phase::kRead,  ErrReadData,        1,  300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kRead,  ErrOk,              1,  300, 5.0f,  1},
    {"point_beyond",      PointBeyond(32), Phase::kRead,  ErrOk,              1,  300, 5.0f,  1},
    {"point_twice",       kTwice,          Phase::kRead,  ErrOk,              1,  300, 5.0f,  1},
    {"garbage",           kGarbage,        Phase::kRead,  ErrReadData,        1, 2300, kNone, 1},
    {"silent",            kSilent,         Phase::kWrite, ErrReadData,        9, 7200, kNone, 1},
    {"wrong_head",        kHead,           Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
    {"wrong_case_digits", kCase,           Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
    {"other_address",     kOther,          Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
    {"truncated",         Truncated(2),    Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
    {"missing_cr",        kNoCr,           Phase::kWrite, ErrOk,              1,  300, kNone, 1},
    {"late",              kLate,           Phase::kWrite, ErrReadData,        9, 7200, kNone, 1},
    {"in_pieces",         kPieces,         Phase::kWrite, ErrOk,              1,  300, kNone, 1},
    {"split_across_read", kSplit,      Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
    {"over_long",         kOverLong,       Phase::kWrite, ErrOk,              1,  300, kNone, 1},
    {"point_beyond",      PointBeyond(32), Phase::kWrite, ErrOk,              1,  300, kNone, 1},
    {"point_twice",       kTwice,          Phase::kWrite, ErrOk,              1,  300, kNone, 1},
    {"garbage",           kGarbage,        Phase::kWrite, ErrReadData,        1,  300, kNone, 1},
};
// clang-format on

const char* PhaseName(Phase phase) {
  const char* names[] = {"scan", "read", "write"};
  return names[static_cast<int>(phase)];
}

// One row on a rig of its own.
void Check(size_t family, const Row& row) {
  SCOPED_TRACE(std::string(Family(family).name) + " " + PhaseName(row.phase) + " " + row.fault);
  FamilyRig rig(Family(family));
  const Operation operation = row.phase == Phase::kWrite ? Operation::kWrite : Operation::kRead;
  if (row.phase == Phase::kRead) rig.Poll(Operation::kRead);  // the scan
  if (row.phase != Phase::kScan) rig.Wait(kCycleMs);

  rig.module().SetFaults(row.faults);
  const PollResult poll = rig.Poll(operation);
  EXPECT_EQ(poll.code, row.code);
  EXPECT_EQ(poll.result, row.code == ErrOk ? 1 : 0);
  EXPECT_EQ(poll.exchanges, row.exchanges);
  EXPECT_EQ(poll.elapsedMs, row.ms);
  if (operation == Operation::kWrite) {
    EXPECT_EQ(poll.value.DiscreteValue, 1u);
  } else {
    EXPECT_EQ(poll.value.DiscreteValue, kUntouchedBits);
  }
  const bool delivered = operation == Operation::kRead && row.code == ErrOk;
  EXPECT_EQ(poll.value.AnalogValue, delivered ? row.value : kUntouchedAnalog);

  rig.module().ClearFaults();
  rig.Wait(kCycleMs);
  const PollResult next = rig.Poll(operation);
  EXPECT_EQ(next.result, 1);
  EXPECT_EQ(next.code, ErrOk);
  EXPECT_EQ(next.exchanges, row.recovery);
  if (operation == Operation::kRead) {
    EXPECT_EQ(next.value.AnalogValue, kHealthyValue);
  }
}

// One test per family (the rows take microseconds each; a process per row
// would cost more than all of them).
TEST(FaultMatrix, Pxr5100) {
  for (const Row& row : kPxr5100) Check(0, row);
}
TEST(FaultMatrix, Pxr5303) {
  for (const Row& row : kPxr5303) Check(1, row);
}
TEST(FaultMatrix, Pxr530x) {
  for (const Row& row : kPxr530x) Check(2, row);
}
TEST(FaultMatrix, Pxr5700) {
  for (const Row& row : kPxr5700) Check(3, row);
}
TEST(FaultMatrix, Pxr5760) {
  for (const Row& row : kPxr5760) Check(4, row);
}

}  // namespace
}  // namespace tarvo::test
