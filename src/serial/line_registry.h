// The process-wide table of the lines the library opened, by token. A token
// is what OpenPort publishes in PortConfig::SharedHandle: never 0, never
// all ones, never reused within a process, and it fits 32 bits on 32-bit
// builds. A line stays in the table, and its device open, until a ClosePort
// closes it (a driver object's destruction does not).
#pragma once

#include <cstdint>
#include <memory>

#include "serial/device.h"
#include "serial/line.h"

namespace tarvo::serial {

// Publishes an opened, configured device as a new line. Null only when the
// process has used up its tokens; the device is closed then.
std::shared_ptr<Line> PublishLine(std::unique_ptr<Device> device);
// The open line token names; null for a closed line or a value never
// published.
std::shared_ptr<Line> FindLine(uintptr_t token);
// Closes line and withdraws its token; a no-op for a line already closed.
void CloseLine(Line& line);

}  // namespace tarvo::serial
