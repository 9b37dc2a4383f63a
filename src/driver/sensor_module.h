// The read cycle of the sensor-module classes (Cpxr5100, CPxr5303,
// CPxr530x). Each reads float registers of sensor points the same way:
// scan a module once to learn the points present on its channels, fetch the
// 4-byte records of those points with a block read, keep them, and hand
// each register kind of each record out once, through the kind's conversion
// and outlier filter. What differs between the classes (dimensions, the
// address case of their commands, how a module is scanned, whether a block
// read fetches one channel or the whole module, what paces it, the
// conversions) is the class's Traits.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "driver/address.h"
#include "driver/driver_base.h"
#include "driver/exchange.h"
#include "driver/family_state.h"
#include "sensors/outlier_filter.h"
#include "tarvo/records.h"

namespace tarvo::sensor {

inline constexpr int kMaxKinds = 7;
// First byte of the records in a block answer (">" mm, two unexamined bytes).
inline constexpr size_t kFirstRecord = 5;
inline constexpr size_t kRecordBytes = 4;
// The receive buffer of a block answer: a whole module of 8 channels of 64
// points, each class asserts that its modules fit.
inline constexpr size_t kAnswerBufferBytes = kFirstRecord + kRecordBytes * 8 * 64;

struct PointState {
  bool present = false;
  std::array<uint8_t, 4> record{};
  std::bitset<kMaxKinds> fresh;  // bit k-1 for register index k
  std::array<sensors::OutlierFilter, kMaxKinds> filters{};
};

struct ModuleState {
  // kinds: the register kinds each record serves (1..kMaxKinds).
  ModuleState(int channels, int points, int64_t now = 0, int kinds = 4);

  // The points of one channel (0..channels-1), by point number.
  std::span<PointState> Channel(int channel);
  PointState& Point(int channel, int point) { return Channel(channel)[static_cast<size_t>(point)]; }
  int channels() const { return static_cast<int>(sensorCount.size()); }
  // The records of a whole block answer: the sum of sensorCount.
  size_t BlockRecords() const;

  bool scanned = false;
  RefreshGate gate;
  // Records each channel contributes to a block answer (0..255).
  std::vector<int32_t> sensorCount;

 private:
  int points_;
  std::vector<PointState> slots_;  // channel * points + point

 public:
  // The fresh flags a record sets: one per register kind.
  const std::bitset<kMaxKinds> allKinds;
};

// Marks point of channel present; numbers outside 0..points-1 mark nothing.
void MarkPoint(ModuleState& state, int channel, int point);

// Takes the point-list answer of channel (answer: the whole zero-filled
// receive buffer, at least 261 bytes). Returns the count n, or -1 when n is
// not 0 and byte 5 + n is not CR (nothing changed then). Otherwise the
// listed points replace the channel's present flags: the channel is cleared
// first, then every listed point in range is marked.
int ApplyPointList(ModuleState& state, int channel, std::span<const uint8_t> answer);

// Copies the records of a block answer (the bytes that arrived) into the
// present points and marks all their register kinds fresh. Channel c's
// records start after the records the earlier channels' sensorCount values
// give; within a channel they go to the present points in ascending order,
// at most sensorCount of them, so a channel never takes another's records.
// A record the answer does not hold whole is not taken. Points that get no
// record keep their record and flags.
void DistributeRecords(ModuleState& state, std::span<const uint8_t> answer);

struct RegisterKind {
  // Converts the 4 record bytes; false rejects the record (sensors/conversions.h).
  bool (*convert)(const uint8_t* raw, float* out);
  int32_t threshold;  // of the kind's outlier filter
};

// The registers of the four-register sensor modules, indices 1..4.
inline constexpr RegisterSpec kSensorRegisters[] = {
    {"TA", kAccessRead, kDataTypeFloat},
    {"TB", kAccessRead, kDataTypeFloat},
    {"WA", kAccessRead, kDataTypeFloat},
    {"WB", kAccessRead, kDataTypeFloat},
};

class Driver;

struct Traits {
  // Register table, indices 1..n: every register read-only, float.
  std::span<const RegisterSpec> registers;
  // Indexed by register index - 1.
  std::array<RegisterKind, kMaxKinds> kinds;
  int channels;
  int points;  // per channel
  HexCase addressCase;
  // How a module's points are learned. Null: each channel lists its points
  // on "*" mm c, as the point-list scan below says. Otherwise the class's
  // own scan; false (no code stored) when it failed, what it learned stays.
  bool (*scan)(Driver& driver, ModuleState& state, uint8_t module, int32_t timeoutMs);
  // The point-list scan: whether a silent channel after channel 0 fails
  // the scan or ends it, and whether a channel's record count is the
  // number of entries its list gives (each takes a record in a block
  // answer) or the number of distinct points present.
  SilentChannel silentChannel;
  bool countsListedEntries;
  // "#" mm c CR fetches channel c alone; otherwise "#" mm "8" CR the module.
  bool blockReadPerChannel;
  // Sleeps the port's time-out before each read of the block answer, on
  // top of the read's own wait.
  bool settleBeforeRead;
  // A wrong answer or none is followed by this pause (ms) before code 22.
  uint32_t wrongAnswerPauseMs;
  // The module's refresh gate (at most one block read every 2 whole
  // seconds, code 23 in between) or, when 0 there is none, a fixed wait
  // in ms before every block read.
  uint32_t fixedWaitMs;
};

// Makes the state of one module of the class with traits.
std::function<std::unique_ptr<ModuleState>()> ModuleMaker(const Traits& traits);

class Driver : public DriverBase {
 public:
  // Address "RRm.c.p": register, module 0..127 (the first three digits),
  // the class's channel and point.
  int32_t ParseItem(const char* address, IoItem* item);

  // Delivers the filtered value of one register of one point into
  // value->AnalogValue; nothing else of *value is written, and nothing at
  // all on failure. An item outside the class's ranges is refused (codes
  // 18, 19, 20) before anything is sent. A module not yet scanned is
  // scanned first (100 ms per question; failure: code 24, scanned again at
  // the next read). A register whose value from the latest block read was
  // already delivered needs a new block read, paced by the class: behind
  // the refresh gate (code 23 while closed) or after the fixed wait.
  // Block-read failures: code 16 (line error or command not written), 17
  // (read refused), 22 (no answer or a wrong one). Code 22 also when the
  // point got no record or the record is rejected by the kind's conversion.
  int32_t ReadItem(IoItem* item, IoValue* value);

  // The registers are read-only: stores ErrOk and returns 1, sends nothing.
  int32_t WriteItem(IoItem* item, IoValue* value);

 protected:
  // Fills the register table and resets the class's tables: every module
  // is scanned again, filters start afresh, and each module's refresh gate
  // counts from now.
  Driver(const Traits& traits, FamilyState<ModuleState>& tables);

 private:
  bool ScanModule(ModuleState& state, uint8_t module);
  // The class's condition for a block read; false with the code stored.
  bool PaceBlockRead(ModuleState& state);
  // Fetches and distributes the records of channel (or of the module);
  // false with the code stored, the tables untouched.
  bool BlockRead(ModuleState& state, uint8_t module, int channel);
  // Hands out the fresh record of register index kind.
  int32_t Deliver(PointState& point, int kind, IoValue* value);

  const Traits& traits_;
  ModuleStates<ModuleState> states_;
};

}  // namespace tarvo::sensor
