// Where the running copy of the library was loaded from.
#pragma once

#include <string>

namespace tarvo {

// The full path of the loaded Tarvo.dll, as the loader resolved it; empty if
// the platform cannot tell (the caller must treat that as a failure).
std::wstring ModulePath();

}  // namespace tarvo
