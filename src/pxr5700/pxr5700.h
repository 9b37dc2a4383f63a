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

#include <cstddef>
#include <cstdint>

#include "driver/driver_base.h"
#include "pxr5700/command.h"
#include "pxr5700/tables.h"
#include "tarvo/guids.h"
#include "tarvo/records.h"

namespace tarvo {

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
};

}  // namespace tarvo
