// What the pxr5760 driver knows about each module: the points its scan
// listed per channel, the latest record of every point, which values of a
// record are still to be handed out, the outlier filters and the refresh
// gate. One set per process, shared by every CPxr5760 object and reset by
// each constructor. A module's state is allocated when it is first used.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <memory>

#include "sensors/outlier_filter.h"

namespace tarvo::pxr5760 {

inline constexpr int kModules = 128;
inline constexpr int kChannels = 8;
inline constexpr int kPoints = 32;      // bus points per channel
inline constexpr int kSubChannels = 8;  // LT and AD sub-channels, and DI/DO bits

// Register indices (the 1-based positions in the register table).
enum Register : int16_t { kTa = 1, kHb, kKt, kLt, kDi, kDo, kAd };

// Positions in a point's fresh flags: one flag per value a record carries.
inline constexpr int kFreshAd = 0;  // + sub-channel
inline constexpr int kFreshTa = 8;
inline constexpr int kFreshHb = 9;
inline constexpr int kFreshKt = 10;
inline constexpr int kFreshLt = 11;   // + sub-channel
inline constexpr int kFreshBit = 19;  // + bit number, shared by DI and DO
inline constexpr int kFreshFlags = 27;

// Byte 2 of a record: bits 7..5 name the sub-channel its LT and AD values
// belong to; it is also the point's output byte.
inline constexpr int kRecordSubChannelShift = 5;
inline constexpr int kRecordOutputByte = 2;

struct PointState {
  std::array<uint8_t, 4> record{};  // b0..b3 as received
  std::bitset<kFreshFlags> fresh;
  sensors::OutlierFilter ta{};
  sensors::OutlierFilter kt{};
  std::array<sensors::OutlierFilter, kSubChannels> lt{};
  std::array<sensors::OutlierFilter, kSubChannels> ad{};
};

struct ModuleState {
  explicit ModuleState(int64_t now) : lastRefresh(now) {}
  bool scanned = false;
  bool refreshDue = false;
  int64_t lastRefresh;  // whole seconds of the monotonic clock
  // Records each channel contributes to a block-read answer: one per
  // present point, so never more than kPoints.
  std::array<int32_t, kChannels> sensorCount{};
  std::array<std::bitset<kPoints>, kChannels> present{};
  std::array<std::array<PointState, kPoints>, kChannels> points{};
};

class Tables {
 public:
  // Forgets every module; modules met from now on start with their gate
  // last opened at now (whole seconds).
  void Reset(int64_t now);
  // The state of module (0..127), allocated on first use.
  ModuleState& Module(int module);

 private:
  int64_t resetAt_ = 0;
  std::array<std::unique_ptr<ModuleState>, kModules> modules_;
};

// The process-wide tables of the class.
Tables& SharedTables();

// The module's refresh gate, shared by block reads and writes: it opens
// when 2 or more whole seconds have passed since it last opened, and one
// exchange uses it up. Returns true, and closes the gate, when the caller
// may talk to the module now.
bool TakeRefreshGate(ModuleState& state);

}  // namespace tarvo::pxr5760
