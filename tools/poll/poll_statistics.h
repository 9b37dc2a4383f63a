// Counts of a tarvo-poll run, shown when it ends (Ctrl-C or the last poll).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tools/plant/readings.h"

namespace tarvo::tools {

class PollStatistics {
 public:
  // Counts one poll's readings (reads and writes).
  void Count(const std::vector<ItemReading>& readings);
  // Counts a poll; call once per poll in addition to Count.
  void CountPoll() { ++polls_; }

  int polls() const { return polls_; }
  int valuesRead() const { return valuesRead_; }
  int failures() const { return failures_; }

  // "--- 4 polls, 22 values read, 1 written, 2 failures" (", 1 item left
  // waiting" when a poll ended before an item's gate let it be read) and
  // one line per failure's text with its count, most frequent first.
  std::string Report() const;

 private:
  int polls_ = 0;
  int valuesRead_ = 0;
  int written_ = 0;
  int failures_ = 0;
  int waiting_ = 0;                     // polls that ended with an item not refreshed (no failure)
  std::map<std::string, int> byError_;  // Display() -> count
};

}  // namespace tarvo::tools
