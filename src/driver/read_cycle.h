// The read cycle of the classes whose modules send one 4-byte record per
// point (Cpxr5100, CPxr5303, CPxr530x, CPxr5760). Each reads its points the
// same way: scan a module once to learn the points present on its channels,
// fetch the records of those points with a block read, keep them, and hand
// each value of each record out once. What differs between the classes
// (registers, dimensions, the address case of their commands, how a module
// is scanned, whether a block read fetches one channel or the whole module,
// what paces it, which values a record carries and how they are derived) is
// the class's Traits.
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

namespace tarvo::readcycle {

inline constexpr int kMaxKinds = 7;
inline constexpr size_t kMaxFresh = 32;
// The receive buffer of a block answer: a whole module of 8 channels of 64
// points, each class asserts that its modules fit.
inline constexpr size_t kAnswerBufferBytes = kFirstRecord + kRecordBytes * 8 * 64;

using Record = std::array<uint8_t, kRecordBytes>;
// One flag per value a record carries; which flag is which is the class's.
using FreshFlags = std::bitset<kMaxFresh>;
// The flags a record just taken sets.
using RecordFlags = FreshFlags (*)(const Record& record);

// What the cycle keeps of each point; a class's point adds its filters.
struct PointRecord {
  bool present = false;
  Record record{};
  FreshFlags fresh;  // the values of record not handed out yet
};

// The state of one module, whatever the class's point type.
class Module {
 public:
  virtual ~Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Point (0..points-1) of channel (0..channels-1).
  virtual PointRecord& At(int channel, int point) = 0;
  int channels() const { return static_cast<int>(sensorCount.size()); }
  int points() const { return points_; }
  // The records of a whole block answer: the sum of sensorCount.
  size_t BlockRecords() const;
  // Marks no point of channel present.
  void ClearChannel(int channel);
  // The fresh flags record sets.
  FreshFlags FlagsOf(const Record& record) const {
    return recordFlags_ != nullptr ? recordFlags_(record) : allKinds_;
  }

  bool scanned = false;
  RefreshGate gate;
  // Records each channel contributes to a block answer (0..255).
  std::vector<int32_t> sensorCount;

 protected:
  // kinds: the register kinds each record serves (1..kMaxKinds), the flags
  // of a record when recordFlags is null.
  Module(int channels, int points, int64_t now, int kinds, RecordFlags recordFlags);

 private:
  int points_;
  FreshFlags allKinds_;
  RecordFlags recordFlags_;
};

// A module whose points are of type P (derived from PointRecord).
template <class P>
class ModuleOf final : public Module {
 public:
  ModuleOf(int channels, int points, int64_t now = 0, int kinds = 4,
           RecordFlags recordFlags = nullptr)
      : Module(channels, points, now, kinds, recordFlags),
        slots_(static_cast<size_t>(channels) * static_cast<size_t>(points)) {}

  // The points of one channel, by point number.
  std::span<P> Channel(int channel) {
    const auto width = static_cast<size_t>(points());
    return std::span<P>(slots_).subspan(static_cast<size_t>(channel) * width, width);
  }
  P& Point(int channel, int point) { return Channel(channel)[static_cast<size_t>(point)]; }
  PointRecord& At(int channel, int point) override { return Point(channel, point); }

 private:
  std::vector<P> slots_;  // channel * points + point
};

// The point of the classes whose register kinds each take the whole record.
struct PointState : PointRecord {
  std::array<sensors::OutlierFilter, kMaxKinds> filters{};  // by register index - 1
};
using ModuleState = ModuleOf<PointState>;

// Marks point of channel present; numbers outside 0..points-1 mark nothing.
void MarkPoint(Module& state, int channel, int point);

// Takes the point-list answer of channel (answer: the whole zero-filled
// receive buffer, at least 261 bytes). Returns the count n, or -1 when n is
// not 0 and byte 5 + n is not CR (nothing changed then). Otherwise the
// listed points replace the channel's present flags: the channel is cleared
// first, then every listed point in range is marked.
int ApplyPointList(Module& state, int channel, std::span<const uint8_t> answer);

// Copies the records of a block answer (the bytes that arrived) into the
// present points and sets the fresh flags each record sets. Channel c's
// records start after the records the earlier channels' sensorCount values
// give; within a channel they go to the present points in ascending order,
// at most sensorCount of them, so a channel never takes another's records.
// A record the answer does not hold whole is not taken. Points that get no
// record keep their record and flags.
void DistributeRecords(Module& state, std::span<const uint8_t> answer);

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

enum class ExtractMode {
  kPending,         // before any bus traffic: only a value not yet handed out
  kAfterBlockRead,  // right after a block read refreshed the module
};

enum class ExtractOutcome {
  kDelivered,     // *value written
  kNothingFresh,  // pending mode: the value was handed out already
  kReadData,      // no value for the item (code 22)
};

class Driver;
struct Traits;

// The value of item from the point's record, as an Extract hook below says.
using Extract = ExtractOutcome (*)(const Traits& traits, PointRecord& point, const IoItem& item,
                                   ExtractMode mode, IoValue* value);

struct Traits {
  // Register table, indices 1..n.
  std::span<const RegisterSpec> registers;
  // Indexed by register index - 1; used when extract is null.
  std::array<RegisterKind, kMaxKinds> kinds;
  int channels;
  int points;  // per channel
  HexCase addressCase;
  // How a module's points are learned. Null: each channel lists its points
  // on "*" mm c, as the point-list scan below says. Otherwise the class's
  // own scan; false (no code stored) when it failed, what it learned stays.
  bool (*scan)(Driver& driver, Module& state, uint8_t module, int32_t timeoutMs);
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
  // The flags a record sets. Null: one per register, flag k-1 for index k.
  RecordFlags recordFlags = nullptr;
  // A check of an item whose module, channel and point are in range: an
  // error code, or ErrOk. Null: none.
  DriverError (*checkItem)(const IoItem& item) = nullptr;
  // The class's record-to-value step on the point its ModuleMaker made.
  // Pending: delivers the item's value when its flag is set, else
  // kNothingFresh (kReadData fails the read at once, nothing sent). After a
  // block read: anything but kDelivered fails the read with 22, so an item
  // the tables have no value for takes the road of every read first. It
  // clears the flag of a value it delivers. Null: register index k takes
  // flag k-1 and the whole record through kinds[k-1] (conversion, then the
  // outlier filter); a rejected record is used up and gives kReadData.
  Extract extract = nullptr;
};

// Makes the state of one module of the class with traits, its points of
// type P.
template <class P = PointState>
std::function<std::unique_ptr<Module>()> ModuleMaker(const Traits& traits) {
  return [&traits] {
    return std::make_unique<ModuleOf<P>>(traits.channels, traits.points, 0,
                                         static_cast<int>(traits.registers.size()),
                                         traits.recordFlags);
  };
}

class Driver : public DriverBase {
 public:
  // Address "RRm.c.p": register, module 0..127 (the first three digits),
  // the class's channel and point.
  int32_t ParseItem(const char* address, IoItem* item);

  // Delivers the value of one register of one point; nothing else of
  // *value is written, and nothing at all on failure. An item outside the
  // class's ranges is refused (codes 18, 19, 20, then the class's check)
  // before anything is sent. A module not yet scanned is scanned first
  // (100 ms per question; failure: code 24, scanned again at the next
  // read). A value of the latest block read already delivered needs a new
  // block read, paced by the class: behind the refresh gate (code 23 while
  // closed) or after the fixed wait. Block-read failures: code 16 (line
  // error or command not written), 17 (read refused), 22 (no answer or a
  // wrong one). Code 22 also when the block read brought no value for the
  // item (see Traits::extract).
  int32_t ReadItem(IoItem* item, IoValue* value);

  // The registers are read-only: stores ErrOk and returns 1, sends nothing.
  int32_t WriteItem(IoItem* item, IoValue* value);

 protected:
  // Fills the register table and resets the class's tables: every module
  // is scanned again, filters start afresh, and each module's refresh gate
  // counts from now.
  Driver(const Traits& traits, FamilyState<Module>& tables);

  // Refuses item numbers the tables cannot hold, as ReadItem says; false
  // with the code stored.
  bool CheckItem(const IoItem& item);
  // The state of module on this object's line.
  Module& State(uint8_t module) { return states_.At(Port().LinePort(), module); }

 private:
  bool ScanModule(Module& state, uint8_t module);
  // The class's condition for a block read; false with the code stored.
  bool PaceBlockRead(Module& state);
  // Fetches and distributes the records of channel (or of the module);
  // false with the code stored, the tables untouched.
  bool BlockRead(Module& state, uint8_t module, int channel);

  const Traits& traits_;
  ModuleStates<Module> states_;
};

}  // namespace tarvo::readcycle
