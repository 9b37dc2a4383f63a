// The three ways tarvo-poll shows its polls: a table for people (redrawn in
// place on a terminal), CSV with time stamps, and JSON lines (one object per
// item per poll). Every reading carries the time it was read and its age
// when the poll ended; an item still waiting for its module's gate shows
// its last value.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tools/plant/readings.h"

namespace tarvo::tools {

// What is being polled, for the table's title lines.
struct PollHeader {
  struct Class {
    std::string className;  // "Cpxr5100"
    std::string progId;     // "Tarvo.pxr5100"
    int timeoutMs = 0;
    std::string pace;  // what takes time: "each block read waits 10 s"
  };
  std::string port;  // "COM255 = /tmp/pxrsim"
  std::string line;  // "9600 8N1"
  bool early = false;
  double intervalSeconds = 0;
  std::vector<Class> classes;
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
// The names are tarvo-gateway's: "class" the family ("pxr5100"), "error"
// the driver's text (converted to UTF-8), "time" when the value was read
// (or written); "poll_time" is the poll's end and "age" the seconds
// between the two.
// Columns: poll_time,poll,class,item,op,ok,value,code,error,gloss,time,age,
// name,unit; one row per item per poll, after a header row unless not
// `header`.
std::unique_ptr<PollOutput> MakeCsvOutput(std::ostream& out, bool header = true);
// {"poll_time","poll","class","item","op","ok","value","code","error",
//  "gloss","time","age","waiting","name","unit"}
std::unique_ptr<PollOutput> MakeJsonOutput(std::ostream& out);

}  // namespace tarvo::tools
