// tarvo-gateway's log: one line per event on stderr ("tarvo-gateway: ..."),
// which the journal keeps when systemd runs it. Lines of several threads
// never mix.
#pragma once

#include <string_view>

namespace tarvo::tools {

void Log(std::string_view message);

}  // namespace tarvo::tools
