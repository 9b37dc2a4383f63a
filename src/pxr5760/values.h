// Turning a point's stored record into the value of one item.
#pragma once

#include <cstdint>

#include "pxr5760/pxr5760.h"
#include "tarvo/records.h"

namespace tarvo::pxr5760 {

using ExtractMode = readcycle::ExtractMode;
using ExtractOutcome = readcycle::ExtractOutcome;

// The flags a record sets: TA, HB and KT, the LT and AD values of the
// sub-channel it names, and all eight bits.
readcycle::FreshFlags RecordFlags(const readcycle::Record& record);

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

// ExtractValue as the read cycle's step, on a point of ModuleState.
ExtractOutcome Extract(const readcycle::Traits& traits, readcycle::PointRecord& point,
                       const IoItem& item, ExtractMode mode, IoValue* value);

}  // namespace tarvo::pxr5760
