// CPxr5760: bus-point modules at addresses 0..127, each with 8 channels of
// up to 32 bus points. Every point sends one 4-byte record per block read,
// from which the driver derives seven kinds of value: temperatures (TA),
// half units (HB), KT values, loop temperatures (LT) and analog inputs (AD)
// per sub-channel, and input (DI) and output (DO) bits. Output bits can be
// written.
//
// Commands carry the module address as two lowercase hex digits. A module
// is scanned channel by channel ("*" mm c CR; a channel after channel 0
// that gives no answer ends the scan, and every entry of a list takes a
// record in a block answer); a block read ("#" mm "8" CR) fetches the
// records of the whole module, followed by a 2000 ms pause when the answer
// is wrong or missing. Reads and writes of a module share its refresh gate:
// one exchange every 2 whole seconds. The read cycle is the one of the
// record-per-point modules (driver/read_cycle.h); values.h turns a record
// into values.
#pragma once

#include <array>
#include <cstdint>

#include "driver/read_cycle.h"
#include "sensors/outlier_filter.h"
#include "tarvo/guids.h"

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
static_assert(kFreshFlags <= readcycle::kMaxFresh);

// A record: b0..b3. Byte 2's bits 7..5 name the sub-channel its LT and AD
// values belong to; it is also the point's output byte.
inline constexpr int kRecordSubChannelShift = 5;
inline constexpr int kRecordOutputByte = 2;

// A point: its record (b0..b3 as received), fresh flags and filters.
struct PointState : readcycle::PointRecord {
  sensors::OutlierFilter ta{};
  sensors::OutlierFilter kt{};
  std::array<sensors::OutlierFilter, kSubChannels> lt{};
  std::array<sensors::OutlierFilter, kSubChannels> ad{};
};

using ModuleState = readcycle::ModuleOf<PointState>;

}  // namespace pxr5760

class CPxr5760 final : public readcycle::Driver {
 public:
  static constexpr const IID& kDispatchIid = DIID_IPxr5760;
  static const readcycle::Traits kTraits;

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

  // ReadItem (readcycle::Driver) delivers one value of one point:
  // AnalogValue, or DiscreteValue (0 or 1) for DI and DO. Items ParseItem
  // lets through but the tables cannot hold are refused before anything is
  // sent: point above 31 (20), sub-index outside 0..7 for LT, AD, DI and DO
  // (21). Code 22 also for a register index outside 1..7, after the scan,
  // gate and block read any read takes.
  // Blocks the calling thread: a scan takes 8 x 200 ms; a block read waits
  // Timeout per read, with a 500 ms pause after each empty one (at most
  // three reads), and 2000 ms more after a missing or wrong answer.

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
  static FamilyState<readcycle::Module>& SharedTables();
};

}  // namespace tarvo
