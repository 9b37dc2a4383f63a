#include "tools/gateway/process_metrics.h"

#include <fmt/format.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace tarvo::tools {
namespace {

std::string FileText(const char* path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The fields of /proc/self/stat after the command's name, from field 3
// (state) on: fields[0] is field 3.
std::vector<std::string> StatFields() {
  const std::string stat = FileText("/proc/self/stat");
  const size_t close = stat.rfind(')');
  std::vector<std::string> fields;
  if (close == std::string::npos) return fields;
  std::istringstream rest(stat.substr(close + 1));
  for (std::string field; rest >> field;) fields.push_back(field);
  return fields;
}

// The system's boot time, in seconds since 1970.
long BootTime() {
  std::istringstream stat(FileText("/proc/stat"));
  for (std::string line; std::getline(stat, line);)
    if (line.starts_with("btime ")) return std::stol(line.substr(6));
  return 0;
}

// The soft limit of open files.
std::string MaxFds() {
  std::istringstream limits(FileText("/proc/self/limits"));
  for (std::string line; std::getline(limits, line);) {
    if (!line.starts_with("Max open files")) continue;
    std::istringstream fields(line.substr(14));
    std::string soft;
    fields >> soft;
    return soft == "unlimited" ? std::string() : soft;
  }
  return {};
}

void Family(std::string* text, const char* name, const char* type, const char* help,
            const std::string& value) {
  *text += fmt::format("# HELP {0} {1}\n# TYPE {0} {2}\n{0} {3}\n", name, help, type, value);
}

}  // namespace

std::string ProcessMetrics() {
  // utime, stime, starttime, vsize and rss are fields 14, 15, 22, 23, 24.
  const std::vector<std::string> stat = StatFields();
  if (stat.size() < 22) return {};
  const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
  const double page = static_cast<double>(sysconf(_SC_PAGESIZE));
  const double cpu = (std::stod(stat[11]) + std::stod(stat[12])) / ticks;
  const double start = static_cast<double>(BootTime()) + std::stod(stat[19]) / ticks;
  std::error_code error;
  long fds = 0;
  for (auto it = std::filesystem::directory_iterator("/proc/self/fd", error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error))
    ++fds;
  std::string text;
  Family(&text, "process_cpu_seconds_total", "counter", "User and system CPU time spent, seconds.",
         fmt::format("{}", cpu));
  Family(&text, "process_open_fds", "gauge", "Open file descriptors.", std::to_string(fds));
  if (const std::string max = MaxFds(); !max.empty())
    Family(&text, "process_max_fds", "gauge", "The most file descriptors it may open.", max);
  Family(&text, "process_virtual_memory_bytes", "gauge", "Virtual memory size, bytes.", stat[20]);
  Family(&text, "process_resident_memory_bytes", "gauge", "Resident memory size, bytes.",
         fmt::format("{}", std::stod(stat[21]) * page));
  Family(&text, "process_start_time_seconds", "gauge",
         "When the process started, in seconds since 1970.", fmt::format("{}", start));
  return text;
}

}  // namespace tarvo::tools
