// CPxr5760: bus-point modules at addresses 0..127, each with 8 channels of
// up to 32 bus points. Every point sends one 4-byte record per block read,
// from which the driver derives seven kinds of value: temperatures (TA),
// half units (HB), KT values, loop temperatures (LT) and analog inputs (AD)
// per sub-channel, and input (DI) and output (DO) bits. Output bits can be
// written.
//
// Commands carry the module address as two lowercase hex digits. A module
// is scanned channel by channel ("*" mm c CR; a channel after channel 0
// that gives no answer ends the scan); a block read ("#" mm "8" CR) fetches
// the records of the whole module. Reads and writes of a module share its
// refresh gate: one exchange every 2 whole seconds.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>

#include "driver/driver_base.h"
#include "driver/family_state.h"
#include "sensors/outlier_filter.h"
#include "tarvo/guids.h"
#include "tarvo/records.h"

namespace tarvo {

namespace pxr5760 {

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

// A record: b0..b3. Byte 2's bits 7..5 name the sub-channel its LT and AD
// values belong to; it is also the point's output byte.
inline constexpr size_t kRecordSize = 4;
inline constexpr int kRecordSubChannelShift = 5;
inline constexpr int kRecordOutputByte = 2;

struct PointState {
  std::array<uint8_t, kRecordSize> record{};  // b0..b3 as received
  std::bitset<kFreshFlags> fresh;
  sensors::OutlierFilter ta{};
  sensors::OutlierFilter kt{};
  std::array<sensors::OutlierFilter, kSubChannels> lt{};
  std::array<sensors::OutlierFilter, kSubChannels> ad{};
};

struct ModuleState {
  bool scanned = false;
  RefreshGate gate;
  // Records each channel contributes to a block-read answer: the count of
  // its latest list (0..255), every listed entry taking one.
  std::array<int32_t, kChannels> sensorCount{};
  std::array<std::bitset<kPoints>, kChannels> present{};
  std::array<std::array<PointState, kPoints>, kChannels> points{};
};

}  // namespace pxr5760

class CPxr5760 : public DriverBase {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr5760;

  // Fills the register table TA, HB, KT, LT, DI, DO, AD (indices 1..7; DI
  // and DO discrete, DO writable) and resets the class's tables: every
  // module is scanned again, records and filters start afresh, and no
  // module's gate opens before 2 whole seconds.
  CPxr5760();

  // "TAm.c.p", "HBm.c.p", "KTm.c.p", "LTm.c.p.s", "ADm.c.p.s", "DIm.c.p.b",
  // "DOm.c.p.b": module 0..127, channel 0..7, point 0..63; the sub-channel
  // or bit number is not checked here. DataType must be 1 for DI and DO and
  // 128 for the others. Checks in order: name (1), data type (9), module
  // digit (1), dotted part (21), module (18), channel (19), point (20).
  int32_t ParseItem(const char* address, IoItem* item);

  // Delivers one value of one point: AnalogValue, or DiscreteValue (0 or 1)
  // for DI and DO. Scans the module first if needed (100 ms per exchange);
  // serves a value of the latest record that was not yet handed out
  // without traffic; otherwise block-reads the whole module, at most once
  // per module every 2 whole seconds (code 23 in between). Items ParseItem
  // lets through but the tables cannot hold are refused before anything is
  // sent: point above 31 (20), sub-index outside 0..7 (21). A failure
  // leaves *value untouched. Codes: 24 the scan learned nothing (the next
  // read scans again), 23 gate shut, 16 the command could not be sent, 17 a
  // read failed, 22 no answer or a wrong one, or no value for the item
  // after the block read (its record did not arrive whole, or the register
  // index is outside 1..7).
  // Blocks the calling thread: a scan takes 8 x 200 ms; a block read waits
  // Timeout per read, with a 500 ms pause after each empty one (at most
  // three reads), and 2000 ms more after a missing or wrong answer.
  int32_t ReadItem(IoItem* item, IoValue* value);

  // Sets (DiscreteValue 1) or clears (any other value) one output bit of a
  // DO item, starting from the point's last known output byte, under the
  // module's refresh gate (up to three tries). Succeeds when the module
  // acknowledges; the acknowledged byte becomes the point's output byte.
  // Other registers are refused with code 1, nothing sent; numbers outside
  // the tables as by ReadItem. Codes: 22 no acknowledgement in any pass (a
  // pass that finds the gate shut sends nothing), 16 the command could not
  // be sent, 17 a read failed. Each pass that sends blocks like the answer
  // loop of a block read, without the 2000 ms pause.
  int32_t WriteItem(IoItem* item, IoValue* value);

  // The class's tables.
  static FamilyState<pxr5760::ModuleState>& SharedTables();

 private:
  // Refuses item numbers the tables cannot hold (ParseItem lets through
  // points 32..63 and does not check sub-indices, and a host may pass an
  // item ParseItem never filled): module 0..127 (18), channel 0..7 (19),
  // point 0..31 (20), and for LT, AD, DI and DO the sub-index 0..7 (21).
  // False with the code stored.
  bool CheckItemNumbers(const IoItem& item);
  // Learns the present points of each channel of module; true when the
  // module answered channel 0 and every exchange until the first channel
  // without a valid answer went through.
  bool ScanModule(pxr5760::ModuleState& state, uint8_t module);
  // Fetches the records of every present point of module and spreads them
  // over the points. False, with the code stored, when it failed.
  bool BlockRead(pxr5760::ModuleState& state, uint8_t module);

  ModuleStates<pxr5760::ModuleState> states_{SharedTables()};
};

}  // namespace tarvo
