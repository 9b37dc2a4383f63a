#include "tools/common/time_text.h"

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace tarvo::tools {
namespace {

struct LocalTime {
  tm fields{};
  int milliseconds = 0;
};

LocalTime Split(std::chrono::system_clock::time_point when) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
  // Floor division, so times before 1970 keep a millisecond part 0..999.
  time_t seconds = static_cast<time_t>(ms / 1000);
  int rest = static_cast<int>(ms % 1000);
  if (rest < 0) {
    rest += 1000;
    --seconds;
  }
  LocalTime local;
  localtime_r(&seconds, &local.fields);
  local.milliseconds = rest;
  return local;
}

}  // namespace

std::string IsoTime(std::chrono::system_clock::time_point when) {
  const LocalTime local = Split(when);
  const long offset = local.fields.tm_gmtoff / 60;  // minutes east of UTC
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02ld:%02ld",
                local.fields.tm_year + 1900, local.fields.tm_mon + 1, local.fields.tm_mday,
                local.fields.tm_hour, local.fields.tm_min, local.fields.tm_sec, local.milliseconds,
                offset < 0 ? '-' : '+', std::labs(offset) / 60, std::labs(offset) % 60);
  return text;
}

std::string ClockTime(std::chrono::system_clock::time_point when) {
  const LocalTime local = Split(when);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.fields.tm_hour, local.fields.tm_min,
                local.fields.tm_sec, local.milliseconds);
  return text;
}

}  // namespace tarvo::tools
