#include "tools/common/gbk.h"

#include <errno.h>
#include <iconv.h>

#include <algorithm>

namespace tarvo::tools {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  // ASCII reads the same in both (a GBK lead byte is 0x81 or above): most
  // texts are the driver's "OK", one per call, not worth a converter each.
  if (std::all_of(gbk.begin(), gbk.end(), [](char c) { return (c & 0x80) == 0; }))
    return std::string(gbk);
  iconv_t converter = iconv_open("UTF-8", "GBK");
  if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
  std::string out;
  char buffer[256];
  // iconv's input pointer is not const on every C library.
  std::string input(gbk);
  char* in = input.data();
  size_t inLeft = input.size();
  while (inLeft > 0) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(buffer, static_cast<size_t>(outPtr - buffer));
    if (result != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (a lead byte at the end): skip one byte.
    out += kReplacement;
    ++in;
    --inLeft;
  }
  iconv_close(converter);
  return out;
}

}  // namespace tarvo::tools
