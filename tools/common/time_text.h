// Time stamps of the tools, in local time with milliseconds.
#pragma once

#include <chrono>
#include <string>

namespace tarvo::tools {

// ISO 8601 with the offset from UTC: "2024-05-01T14:03:07.250+02:00".
std::string IsoTime(std::chrono::system_clock::time_point when);
// The time of day only: "14:03:07.250".
std::string ClockTime(std::chrono::system_clock::time_point when);

}  // namespace tarvo::tools
