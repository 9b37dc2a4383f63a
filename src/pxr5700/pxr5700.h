// Cpxr5700: I/O modules at addresses 0..127, each with eight digital inputs
// ("DI"), eight digital outputs ("DO", writable), two temperature channels
// ("TA" and "TB", two conversions of the same readings) and two numeric
// channels ("WI").
//
// Every read or write is one exchange: the command, a sleep of the object's
// time-out (at least 100 ms), then whatever reply has arrived. One reply
// carries all channels of its register, and the driver keeps them, so a host
// that polls every channel of a module costs one exchange per register and
// cycle. The values are process-wide, shared by all Cpxr5700 objects and
// cleared by each constructor.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "driver/driver_base.h"
#include "driver/family_state.h"
#include "tarvo/guids.h"
#include "tarvo/records.h"

namespace tarvo {

namespace pxr5700 {

// The five registers, by their index in the register table (counted from 0).
enum Register : int16_t {
  kInputs = 0,         // "DI"
  kOutputs = 1,        // "DO", the only writable register
  kTemperature = 2,    // "TA"
  kTemperature12 = 3,  // "TB": the same readings as TA, another conversion
  kNumeric = 4,        // "WI"
};
inline constexpr int16_t kRegisterCount = 5;

inline bool IsRegister(int32_t index) { return index >= 0 && index < kRegisterCount; }
// Inputs and outputs are bits 0..7; the others carry channels 1 and 2.
inline bool IsBitRegister(int16_t index) { return index == kInputs || index == kOutputs; }
inline bool ChannelInRange(int16_t index, int32_t channel) {
  return IsBitRegister(index) ? channel >= 0 && channel <= 7 : channel >= 1 && channel <= 2;
}

inline constexpr int kBits = 8;            // inputs and outputs: channels 0..7
inline constexpr int kAnalogChannels = 2;  // temperature and numeric: channels 1 and 2
inline constexpr size_t kNumericTextLength = 5;

template <class Data>
struct Entry {
  bool fresh = false;
  Data data{};
};

// b0..b3 of a temperature reading, in the order received.
using RawReading = std::array<uint8_t, 4>;
// Five characters of decimal text as the module sent them (any bytes).
using NumericText = std::array<char, kNumericTextLength>;

// What the driver holds of a module: the last inputs, outputs, temperature
// readings and numeric texts it sent, each entry with a fresh flag that is
// set when a reply fills it and cleared when a read delivers it, so that
// every value received is handed out once. The outputs double as the memory
// of the states the driver last read or wrote.
struct ModuleState {
  std::array<Entry<uint32_t>, kBits> inputs{};
  std::array<Entry<uint32_t>, kBits> outputs{};  // the value last read or written
  // Indexed by channel - 1.
  std::array<Entry<RawReading>, kAnalogChannels> temperatures{};
  std::array<Entry<NumericText>, kAnalogChannels> numerics{};
};

// A module's commands: a lead byte, the module address as two upper-case
// hexadecimal digits, one byte of payload and CR, always all five bytes.
using Command = std::array<uint8_t, 5>;
Command MakeCommand(uint8_t lead, int module, uint8_t payload);

// Where a module's replies carry their data. Byte 0 tells the reply's kind:
// ">" answers a read, "!" a write. The two address digits that follow and
// the bytes not listed here are not examined.
inline constexpr uint8_t kReadReplyHead = '>';
inline constexpr uint8_t kWriteReplyHead = '!';
// DI and DO replies, and the echo of a write: the eight bits, bit i for
// channel i.
inline constexpr size_t kBitsAt = 3;
// A whole reply ends in a CR. An early-reply read waits for it too, so that
// it cannot arrive after the next command's purge and head that command's
// reply.
inline constexpr size_t kReplyEndBytes = 1;
// Every reply fits; a longer one is cut here, its rest discarded before the
// next command.
inline constexpr size_t kReplyBufferSize = 300;

}  // namespace pxr5700

class Cpxr5700 : public DriverBase {
 public:
  static constexpr const IID& kDispatchIid = DIID_Ipxr5700;
  // The object's time-out until OpenPort sets one, in ms.
  static constexpr int32_t kInitialTimeoutMs = 200;

  // Fills the register table DI, DO, TA, TB, WI (indices 0..4), sets the
  // time-out to kInitialTimeoutMs and forgets every value held for any module.
  Cpxr5700();

  // Address "RRm.c": register, module 0..127 (one to four digits right after
  // the register letters), channel after the first "." (0..7 for DI and DO,
  // 1..2 for TA, TB and WI; no digit there is channel 0). Text between the
  // module digits and the "." and after the channel digits is ignored.
  // Writes RegisterIndex once the register is known; ModuleAddress and
  // Channel are 0 unless the address is valid.
  int32_t ParseItem(const char* address, IoItem* item);
  // Delivers the item's value, DI and DO into value->DiscreteValue (0 or 1),
  // TA, TB and WI into value->AnalogValue; asks the module unless a reply
  // already brought a value of this channel that no read has delivered.
  // Failure leaves *value untouched: ErrRegisterUnsupported (no such
  // register, module outside 0..127), ErrChannelNumber, ErrPortWrite,
  // ErrPortRead (no reply, or one that is not a whole reply to the command).
  int32_t ReadItem(IoItem* item, IoValue* value);
  // Switches one output: value->DiscreteValue 1 is on, anything else off. The
  // command carries all eight outputs, the others as last read or written
  // (off when never known); succeeds only when the module echoes them.
  // ErrRegisterUnsupported for any register but DO (nothing is sent),
  // ErrChannelNumber, ErrPortWrite (not sent, or a different echo),
  // ErrPortRead (no reply). The value is kept even when the write fails, so
  // the next write carries it.
  int32_t WriteItem(IoItem* item, IoValue* value);

  // The class's tables.
  static FamilyState<pxr5700::ModuleState>& SharedTables();

 private:
  // Refuses items ParseItem cannot have produced; stores the code.
  bool CheckItem(const IoItem& item);
  // Sends a five-byte command and receives the reply into reply (cleared
  // first); false, with ErrPortWrite or ErrPortRead stored, when either
  // transfer fails. The reply's content is the caller's to check. An
  // early-reply port stops waiting once a reply starting with head has
  // length bytes.
  bool Exchange(const pxr5700::Command& command, const char* sendLabel, const char* receiveLabel,
                uint8_t head, size_t length, uint8_t* reply, size_t capacity, uint32_t* count);
  // Hands out the item's entry, which must be fresh, and clears its flag.
  int32_t Deliver(pxr5700::ModuleState& state, int16_t reg, int16_t channel, IoValue* value);

  ModuleStates<pxr5700::ModuleState> states_{SharedTables()};
};

}  // namespace tarvo
