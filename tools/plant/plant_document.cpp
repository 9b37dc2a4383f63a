#include "tools/plant/plant_document.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/mark.h>
#include <yaml-cpp/parser.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <istream>
#include <optional>
#include <streambuf>
#include <string>
#include <vector>

#include "tools/plant/plain_scalar.h"
#include "tools/plant/plant_error.h"

namespace tarvo::plant {
namespace {

bool StartsCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

// Positions as people count them: the parser's columns count bytes, and a
// "°" is two. The parser's marks come in the text's order, so a mark on the
// line of the one before counts on from it: a document written on one line
// (as programs write JSON) is not counted from its start for every value.
class TextLines {
 public:
  explicit TextLines(std::string_view text) : text_(text) {
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] == '\n') starts_.push_back(i + 1);
  }

  TextPosition Of(const YAML::Mark& mark) const {
    if (mark.line < 0 || mark.column < 0) return {};
    const auto line = static_cast<size_t>(mark.line);
    const auto bytes = static_cast<size_t>(mark.column);
    if (line >= starts_.size()) return {line + 1, bytes + 1};
    const size_t end = std::min(text_.size(), starts_[line] + bytes);
    if (line != last_.line || end < last_.end) last_ = {line, starts_[line], 1};
    for (size_t i = last_.end; i < end; ++i) last_.column += StartsCharacter(text_[i]) ? 1 : 0;
    last_.end = end;
    return {line + 1, last_.column};
  }

 private:
  // The last position counted: its line, the offset it counted to and the
  // column there.
  struct Counted {
    size_t line = SIZE_MAX;
    size_t end = 0;
    size_t column = 1;
  };

  std::string_view text_;
  std::vector<size_t> starts_{0};
  mutable Counted last_;
};

TextPosition PositionOfOffset(std::string_view text, size_t offset) {
  TextPosition at;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++at.line;
      at.column = 1;
    } else if (StartsCharacter(text[i])) {
      ++at.column;
    }
  }
  return at;
}

// The offset of the first byte that is not part of UTF-8 text, or of a NUL
// (which the parser takes for the start of UTF-16 or UTF-32).
std::optional<size_t> FindNonUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned char low = 0x80;   // the range of the second byte, against overlong forms
    unsigned char high = 0xBF;  // and surrogates or code points past U+10FFFF
    if (lead == 0) return i;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return i;
    }
    for (size_t k = 1; k < length; ++k) {
      if (i + k >= text.size()) return i;
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return i;
    }
    i += length;
  }
  return std::nullopt;
}

// The text as the parser's stream, read where it lies rather than copied.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::string_view text) {
    char* begin = const_cast<char*>(text.data());  // only read
    setg(begin, begin, begin + text.size());
  }
};

// Builds the document's values from the parser's events, refusing what a
// plant document may not hold with PlantValueError at its place.
class DocumentBuilder : public YAML::EventHandler {
 public:
  explicit DocumentBuilder(const TextLines& lines) : lines_(lines) {}
  PlantValue Take() { return std::move(top_); }

  void OnDocumentStart(const YAML::Mark& mark) override {
    if (documents_++ > 0) Refuse({}, lines_.Of(mark), "a second document; a plant file holds one");
  }
  void OnDocumentEnd() override {}

  void OnNull(const YAML::Mark& mark, YAML::anchor_t anchor) override {
    CheckAnchor(mark, anchor);
    if (ExpectsKey()) Refuse(open_.back().path, lines_.Of(mark), "a key must be a scalar");
    Add(PlantValue::Of(PlantValue::Kind::kNull, lines_.Of(mark)));
  }

  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override {
    Refuse(ChildPath(), lines_.Of(mark), "aliases (*) are not read; write the value out");
  }

  void OnScalar(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                const std::string& value) override {
    CheckAnchor(mark, anchor);
    CheckTag(mark, tag);
    if (ExpectsKey()) return AddKey(value, lines_.Of(mark));
    PlantValue scalar = PlantValue::Of(PlantValue::Kind::kText, lines_.Of(mark));
    scalar.text = value;
    if (tag == "?") {
      const PlainScalar plain = ReadPlainScalar(value);
      if (plain.kind == PlainScalar::Kind::kBoolean) {
        scalar.kind = PlantValue::Kind::kBoolean;
        scalar.boolean = plain.boolean;
      } else if (plain.kind == PlainScalar::Kind::kNumber) {
        if (!std::isfinite(plain.number))
          Refuse(ChildPath(), scalar.at, "the number " + value + " is out of range");
        scalar.kind = PlantValue::Kind::kNumber;
        scalar.number = plain.number;
      }
    }
    Add(std::move(scalar));
  }

  void OnSequenceStart(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                       YAML::EmitterStyle::value) override {
    Open(mark, tag, anchor, PlantValue::Kind::kList);
  }
  void OnSequenceEnd() override { Close(); }

  void OnMapStart(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
                  YAML::EmitterStyle::value) override {
    Open(mark, tag, anchor, PlantValue::Kind::kObject);
  }
  void OnMapEnd() override { Close(); }

 private:
  // A list or object being read, with its path and its next member's key.
  struct Container {
    PlantValue value;
    PlantPath path;
    std::optional<PlantMember> key;
  };

  [[noreturn]] static void Refuse(PlantPath path, TextPosition at, const std::string& reason) {
    throw PlantValueError(std::move(path), at, reason);
  }

  bool ExpectsKey() const {
    return !open_.empty() && open_.back().value.kind == PlantValue::Kind::kObject &&
           !open_.back().key;
  }

  // The path of the value that comes next.
  PlantPath ChildPath() const {
    if (open_.empty()) return {};
    const Container& parent = open_.back();
    PlantPath path = parent.path;
    if (parent.key)
      path.emplace_back(parent.key->key);
    else
      path.emplace_back(parent.value.elements.size());
    return path;
  }

  void CheckAnchor(const YAML::Mark& mark, YAML::anchor_t anchor) const {
    if (anchor != YAML::NullAnchor)
      Refuse(ChildPath(), lines_.Of(mark), "anchors (&) are not read; write the value out");
  }

  // "?" is an unquoted scalar or a container, "!" a quoted scalar.
  void CheckTag(const YAML::Mark& mark, const std::string& tag) const {
    if (tag != "?" && tag != "!")
      Refuse(ChildPath(), lines_.Of(mark), "tags (" + tag + ") are not read");
  }

  void AddKey(const std::string& key, TextPosition at) {
    Container& object = open_.back();
    for (const PlantMember& member : object.value.members) {
      if (member.key != key) continue;
      PlantPath path = object.path;
      path.emplace_back(key);
      Refuse(std::move(path), at, "the object gives this key twice");
    }
    object.key = PlantMember{key, at, {}};
  }

  void Open(const YAML::Mark& mark, const std::string& tag, YAML::anchor_t anchor,
            PlantValue::Kind kind) {
    CheckAnchor(mark, anchor);
    CheckTag(mark, tag);
    if (ExpectsKey()) Refuse(open_.back().path, lines_.Of(mark), "a key must be a scalar");
    if (open_.size() >= kMaxPlantDepth)
      Refuse(ChildPath(), lines_.Of(mark),
             "nested deeper than " + std::to_string(kMaxPlantDepth) + " levels");
    PlantPath path = ChildPath();
    open_.push_back({PlantValue::Of(kind, lines_.Of(mark)), std::move(path), {}});
  }

  void Close() {
    PlantValue value = std::move(open_.back().value);
    open_.pop_back();
    Add(std::move(value));
  }

  void Add(PlantValue value) {
    if (open_.empty()) {
      top_ = std::move(value);
      return;
    }
    Container& parent = open_.back();
    if (parent.value.kind == PlantValue::Kind::kList) {
      parent.value.elements.push_back(std::move(value));
      return;
    }
    parent.key->value = std::move(value);
    parent.value.members.push_back(std::move(*parent.key));
    parent.key.reset();
  }

  const TextLines& lines_;
  std::vector<Container> open_;
  PlantValue top_;
  int documents_ = 0;
};

}  // namespace

PlantValue ParsePlantDocument(std::string_view text, std::string_view source) {
  if (const std::optional<size_t> offset = FindNonUtf8(text))
    throw PlantError(source, PositionOfOffset(text, *offset), "not UTF-8 text");
  TextBuffer buffer(text);
  std::istream stream(&buffer);
  const TextLines lines(text);
  DocumentBuilder builder(lines);
  try {
    YAML::Parser parser(stream);
    // A second document is refused as it starts.
    while (parser.HandleNextDocument(builder)) {
    }
  } catch (const YAML::Exception& e) {
    throw PlantError(source, lines.Of(e.mark), "not valid YAML: " + e.msg);
  } catch (const PlantValueError& e) {
    throw PlantError(source, e.at(), e.what());
  }
  return builder.Take();
}

void ReadPlantDocument(std::string_view text, std::string_view source,
                       const std::function<void(const PlantNode&)>& read) {
  const PlantValue top = ParsePlantDocument(text, source);
  try {
    read(PlantNode(top, {}));
  } catch (const PlantValueError& e) {
    throw PlantError(source, e.at(), e.what());
  }
}

}  // namespace tarvo::plant
