// The library's texts are GBK (code page 936) bytes; a terminal wants UTF-8.
// The conversion belongs to the host, never to the library.
#pragma once

#include <string>
#include <string_view>

namespace tarvo::tools {

// The UTF-8 form of a GBK text. A byte sequence that is not GBK becomes
// U+FFFD and the conversion goes on after it; plain ASCII passes unchanged.
std::string GbkToUtf8(std::string_view gbk);

}  // namespace tarvo::tools
