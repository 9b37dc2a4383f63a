// The three ways tarvo-poll shows its polls: a table for people (redrawn in
// place on a terminal), CSV with time stamps, and JSON lines (one object per
// item per poll).
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "tools/poll/readings.h"

namespace tarvo::tools {

// What is being polled, for the table's title line.
struct PollHeader {
  std::string className;  // "Cpxr5100"
  std::string progId;     // "Tarvo.pxr5100"
  std::string port;       // "COM255 = /tmp/pxrsim"
  std::string line;       // "9600 8N1"
  int timeoutMs = 0;
  double intervalSeconds = 0;
  bool early = false;  // early replies asked for
};

class PollOutput {
 public:
  virtual ~PollOutput() = default;
  virtual void Start(const PollHeader& header) = 0;
  // Shows one poll and flushes.
  virtual void Show(const PollRecord& poll) = 0;
};

// inPlace: each poll replaces the one before (for a terminal).
std::unique_ptr<PollOutput> MakeTableOutput(std::ostream& out, bool inPlace);
// Columns: time,poll,class,item,op,ok,value,code,text,gloss; one row per
// item per poll, after a header row.
std::unique_ptr<PollOutput> MakeCsvOutput(std::ostream& out, std::string className);
// {"time","poll","class","item","op","ok","value","code","text","gloss"}
std::unique_ptr<PollOutput> MakeJsonOutput(std::ostream& out, std::string className);

}  // namespace tarvo::tools
