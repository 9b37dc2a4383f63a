// The numbers of an item that the tables can hold, checked before a read or
// write touches anything: ParseItem lets through points the tables lack
// (32..63) and does not check sub-indices, and a host may pass an item
// ParseItem never filled.
#pragma once

#include "tarvo/errors.h"
#include "tarvo/records.h"

namespace tarvo::pxr5760 {

// ErrOk, or the code of the first number out of range, in this order:
// module 0..127 (18), channel 0..7 (19), point 0..31 (20), and for LT, AD,
// DI and DO the sub-index 0..7 (21). The register index must be 1..7.
DriverError CheckItemNumbers(const IoItem& item);

}  // namespace tarvo::pxr5760
