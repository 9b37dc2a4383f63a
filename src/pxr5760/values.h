// Turning a point's stored record into the value of one item.
#pragma once

#include <cstdint>

#include "pxr5760/pxr5760.h"
#include "tarvo/records.h"

namespace tarvo::pxr5760 {

enum class ExtractMode {
  kPending,         // before any bus traffic: only a value not yet handed out
  kAfterBlockRead,  // right after a block read refreshed the module
};

enum class ExtractOutcome {
  kDelivered,     // *value written
  kNothingFresh,  // pending mode: the value was handed out already
  kReadData,      // after a block read: no value for the item (code 22)
};

// When the point's flag for the item's value is set: converts the record,
// passes TA, KT, LT and AD values through their outlier filter (threshold
// 10; a pending AD value within the threshold also ends a run of
// hold-backs), writes AnalogValue (DiscreteValue for DI and DO), clears the
// flag and delivers. When it is clear, after a block read, an LT or AD item
// gets its sub-channel's last accepted value, provided that filter ever
// accepted one: the record just read belongs to another sub-channel.
// Anything else leaves *value untouched. sub is the item's SubIndex; a
// register or sub-index outside the tables counts as a value not there.
ExtractOutcome ExtractValue(PointState& point, int16_t reg, int16_t sub, ExtractMode mode,
                            IoValue* value);

}  // namespace tarvo::pxr5760
