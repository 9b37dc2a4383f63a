#include "sim/plant/json_locator.h"

#include <cstdint>
#include <set>

namespace tarvo::sim {
namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  std::optional<TextPosition> Find(const JsonPath& path) {
    SkipSpace();
    if (!Walk(path, 0)) return std::nullopt;
    return PositionOfOffset(text_, found_);
  }

  std::optional<DuplicateKey> FindDuplicate() {
    SkipSpace();
    JsonPath path;
    if (!FindDuplicate(&path)) return std::nullopt;
    return DuplicateKey{std::move(path), PositionOfOffset(text_, found_)};
  }

 private:
  // At the start of a value: descends along path[depth..]. True when the
  // value was found (found_ holds its offset, or its key's).
  bool Walk(const JsonPath& path, size_t depth) {
    if (depth == path.size()) {
      found_ = pos_;
      return pos_ < text_.size();
    }
    if (const auto* key = std::get_if<std::string>(&path[depth])) {
      if (!Eat('{')) return false;
      SkipSpace();
      if (Eat('}')) return false;
      while (true) {
        SkipSpace();
        const size_t keyStart = pos_;
        std::string name;
        if (!String(&name)) return false;
        SkipSpace();
        if (!Eat(':')) return false;
        SkipSpace();
        if (name == *key && depth + 1 == path.size()) {
          found_ = keyStart;  // a member is found at its key
          return true;
        }
        if (name == *key) return Walk(path, depth + 1);
        if (!SkipValue()) return false;
        SkipSpace();
        if (Eat(',')) continue;
        return false;  // '}' or malformed: the key is not there
      }
    }
    const size_t index = std::get<size_t>(path[depth]);
    if (!Eat('[')) return false;
    SkipSpace();
    if (Eat(']')) return false;
    for (size_t i = 0;; ++i) {
      SkipSpace();
      if (i == index) return Walk(path, depth + 1);
      if (!SkipValue()) return false;
      SkipSpace();
      if (!Eat(',')) return false;
    }
  }

  // Walks the well-formed value at the scan position. True at the first
  // key that an object gives twice: found_ holds the offset of its second
  // occurrence and *path its path.
  bool FindDuplicate(JsonPath* path) {
    const char open = pos_ < text_.size() ? text_[pos_] : '\0';
    if (open != '{' && open != '[') {
      SkipValue();
      return false;
    }
    ++pos_;
    SkipSpace();
    if (Eat(open == '{' ? '}' : ']')) return false;
    std::set<std::string> names;
    for (size_t i = 0;; ++i) {
      SkipSpace();
      if (open == '{') {
        const size_t keyStart = pos_;
        std::string name;
        if (!String(&name)) return false;
        path->emplace_back(name);
        if (!names.insert(name).second) {
          found_ = keyStart;
          return true;
        }
        SkipSpace();
        if (!Eat(':')) return false;
        SkipSpace();
      } else {
        path->emplace_back(i);
      }
      if (FindDuplicate(path)) return true;
      path->pop_back();
      SkipSpace();
      if (Eat(',')) continue;
      Eat(open == '{' ? '}' : ']');
      return false;
    }
  }

  bool SkipValue() {
    if (pos_ >= text_.size()) return false;
    const char c = text_[pos_];
    if (c == '"') return String(nullptr);
    if (c == '{' || c == '[') {
      const char close = c == '{' ? '}' : ']';
      ++pos_;
      SkipSpace();
      if (Eat(close)) return true;
      while (true) {
        SkipSpace();
        if (c == '{') {
          if (!String(nullptr)) return false;
          SkipSpace();
          if (!Eat(':')) return false;
          SkipSpace();
        }
        if (!SkipValue()) return false;
        SkipSpace();
        if (Eat(close)) return true;
        if (!Eat(',')) return false;
      }
    }
    // Numbers and the literals true, false, null.
    const size_t start = pos_;
    while (pos_ < text_.size() && IsScalarChar(text_[pos_])) ++pos_;
    return pos_ > start;
  }

  static bool IsScalarChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || c == '-' || c == '+' || c == '.' ||
           c == 'E';
  }

  // A string literal; its decoded text into *out when out is given.
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return true;
      if (c != '\\') {
        if (out != nullptr) out->push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) return false;
      const char escaped = text_[pos_++];
      if (escaped == 'u') {
        uint32_t unit = 0;
        if (!Hex4(&unit)) return false;
        if (unit >= 0xD800 && unit < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
          pos_ += 2;
          uint32_t low = 0;
          if (!Hex4(&low)) return false;
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        if (out != nullptr) AppendUtf8(unit, out);
        continue;
      }
      if (out == nullptr) continue;
      switch (escaped) {
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 't':
          out->push_back('\t');
          break;
        default:
          out->push_back(escaped);
          break;  // " \ /
      }
    }
    return false;
  }

  bool Hex4(uint32_t* value) {
    if (pos_ + 4 > text_.size()) return false;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_++];
      uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return false;
      }
      *value = *value * 16 + digit;
    }
    return true;
  }

  static void AppendUtf8(uint32_t code, std::string* out) {
    if (code < 0x80) {
      out->push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (code >> 6)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | (code >> 12)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xF0 | (code >> 18)));
      out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }

  void SkipSpace() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' ||
                                   text_[pos_] == '\n' || text_[pos_] == '\r'))
      ++pos_;
  }

  bool Eat(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  size_t found_ = 0;
};

}  // namespace

std::optional<TextPosition> LocateJsonValue(std::string_view text, const JsonPath& path) {
  return Scanner(text).Find(path);
}

std::optional<DuplicateKey> FindDuplicateKey(std::string_view text) {
  return Scanner(text).FindDuplicate();
}

TextPosition PositionOfOffset(std::string_view text, size_t offset) {
  TextPosition position;
  const size_t end = offset < text.size() ? offset : text.size();
  for (size_t i = 0; i < end; ++i) {
    if (text[i] == '\n') {
      ++position.line;
      position.column = 1;
    } else {
      ++position.column;
    }
  }
  return position;
}

std::string DescribeJsonPath(const JsonPath& path) {
  std::string text;
  for (const JsonStep& step : path) {
    if (const auto* key = std::get_if<std::string>(&step)) {
      if (!text.empty()) text += '.';
      text += *key;
    } else {
      text += '[' + std::to_string(std::get<size_t>(step)) + ']';
    }
  }
  return text;
}

}  // namespace tarvo::sim
