// pxrsim -v: each command a module took and its answer, and the bytes no
// module took, as hex dumps with ASCII:
//   14:03:07.250 module   1 pxr5100  <- 2a 30 31 30 0d     *010.
//                                    -> 3e 30 31 30 ...    >010...
#pragma once

#include <chrono>
#include <string>

#include "sim/exchange_log.h"

namespace tarvo::tools {

std::string FormatExchange(std::chrono::system_clock::time_point when, const sim::Exchange& e);

}  // namespace tarvo::tools
