#include "tools/common/utf8_text.h"

#include <algorithm>

namespace tarvo::tools {
namespace {

constexpr char kHex[] = "0123456789abcdef";

}  // namespace

size_t Utf8CharLength(std::string_view bytes, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  size_t length = 0;
  char32_t code = 0;
  char32_t least = 0;  // the smallest code point of this length: shorter forms are overlong
  if ((lead & 0xe0) == 0xc0) {
    length = 2, code = lead & 0x1f, least = 0x80;
  } else if ((lead & 0xf0) == 0xe0) {
    length = 3, code = lead & 0x0f, least = 0x800;
  } else if ((lead & 0xf8) == 0xf0) {
    length = 4, code = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3f);
  }
  if (code < least || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

bool IsUtf8(std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = Utf8CharLength(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string QuoteBytes(std::string_view bytes, size_t limit) {
  std::string quote;  // between the quotes
  size_t at = 0;
  while (at < bytes.size()) {
    const unsigned char byte = static_cast<unsigned char>(bytes[at]);
    const size_t length = Utf8CharLength(bytes, at);
    std::string piece;
    if (byte == '"' || byte == '\\')
      piece = {'\\', static_cast<char>(byte)};
    else if (byte >= 0x20 && byte < 0x7f)
      piece = std::string(1, static_cast<char>(byte));
    else if (length > 1 && !(byte == 0xc2 && static_cast<unsigned char>(bytes[at + 1]) < 0xa0))
      piece = std::string(bytes.substr(at, length));
    else
      piece = {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xf]};
    if (quote.size() + piece.size() > limit) break;
    quote += piece;
    at += piece.starts_with("\\x") ? 1 : std::max<size_t>(length, 1);
  }
  if (at < bytes.size()) return "\"" + quote + "...\" (" + std::to_string(bytes.size()) + " bytes)";
  return "\"" + quote + "\"";
}

}  // namespace tarvo::tools
