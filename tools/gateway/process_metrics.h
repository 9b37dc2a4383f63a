// The gateway process's own metrics in the names every Prometheus client
// uses (process_cpu_seconds_total, process_resident_memory_bytes, ...),
// read from /proc.
#pragma once

#include <string>

namespace tarvo::tools {

// Their text exposition; empty where /proc cannot be read.
std::string ProcessMetrics();

}  // namespace tarvo::tools
