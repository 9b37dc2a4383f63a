#include "tools/poll/poll_statistics.h"

#include <fmt/format.h>

#include <algorithm>

namespace tarvo::tools {
namespace {

std::string Plural(int n, const char* one, const char* many) {
  return fmt::format("{} {}", n, n == 1 ? one : many);
}

}  // namespace

void PollStatistics::Count(const std::vector<ItemReading>& readings) {
  for (const ItemReading& r : readings) {
    if (r.ok) {
      ++(r.write ? written_ : valuesRead_);
    } else if (r.waiting) {
      ++waiting_;
    } else {
      ++failures_;
      ++byError_[r.error.Display()];
    }
  }
}

std::string PollStatistics::Report() const {
  std::string report = "--- " + Plural(polls_, "poll", "polls") + ", " +
                       Plural(valuesRead_, "value read", "values read");
  if (written_ > 0) report += ", " + Plural(written_, "value written", "values written");
  report += ", " + Plural(failures_, "failure", "failures");
  if (waiting_ > 0) report += ", " + Plural(waiting_, "item", "items") + " left waiting";
  report += "\n";
  std::vector<std::pair<std::string, int>> errors(byError_.begin(), byError_.end());
  std::stable_sort(errors.begin(), errors.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  for (const auto& [text, count] : errors) report += fmt::format("{:>6}  {}\n", count, text);
  return report;
}

}  // namespace tarvo::tools
