// The fixed message texts of the driver error codes.
#pragma once

#include <cstdint>

#include "tarvo/errors.h"

namespace tarvo {

// Returns the static GBK (code page 936) text of a DriverError code. The
// texts stay valid while the library is loaded. A value outside 0..24 cannot
// be stored by the drivers; should one arrive it yields "OK" rather than a
// read outside the table.
const char* ErrorText(int32_t code) noexcept;

}  // namespace tarvo
