// --trace: every command the driver sends and every reply it receives, as
// the library reports them through TarvoSetTraceHandler, as a hex dump.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>

#include "tools/common/driver_library.h"

namespace tarvo::tools {

// One exchange half as text lines:
//   "14:03:07.250 Read Send       5  2a 30 31 30 0d ...   *010."
// with further lines of a long reply indented under the first; a reply of
// no bytes reads "(nothing)".
std::string FormatTrace(std::chrono::system_clock::time_point when, const char* label,
                        std::span<const uint8_t> bytes);

// Is handed the library's trace for its lifetime (beside the counting of
// the modules' traffic).
class TracePrinter {
 public:
  TracePrinter(const DriverLibrary& library, std::ostream& out);
  ~TracePrinter();
  TracePrinter(const TracePrinter&) = delete;
  TracePrinter& operator=(const TracePrinter&) = delete;

 private:
  static void Handle(void* context, const char* label, const uint8_t* bytes, int32_t count);
  std::ostream& out_;
};

}  // namespace tarvo::tools
