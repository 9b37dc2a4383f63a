// --fault ADDRESS:SWITCH[=VALUE][,SWITCH[=VALUE]...]: fault switches for one
// module (or all) from the command line, with the names and values of a
// plant file's "faults" (sim/plant/faults_reader.h). A switch without a
// value is true; VALUE is true, false, a whole number, or one character
// (for a byte).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/plant/faults_reader.h"

namespace tarvo::tools {

struct FaultOption {
  std::optional<int> address;  // nothing: every module
  sim::FaultSetting setting;
};

// Throws std::invalid_argument with a message that quotes the option.
FaultOption ParseFaultOption(std::string_view text);

}  // namespace tarvo::tools
