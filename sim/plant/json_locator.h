// Where a value sits in a JSON text, so that a message about a value read
// from a file can name its line. The plant reader validates its input with
// the JSON library, which keeps no positions; this scanner walks the same
// text again along one path, or whole for the duplicate keys the library
// lets pass.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tarvo::sim {

// One step of a path: an object key or an array index.
using JsonStep = std::variant<std::string, size_t>;
using JsonPath = std::vector<JsonStep>;

struct TextPosition {
  size_t line = 1;    // counted from 1
  size_t column = 1;  // counted from 1, in bytes
};

// The position of the value at `path` in `text`: of the opening quote of
// its key when it is an object member, else of its first character; or
// nothing when the text holds no such value or is not well-formed JSON up
// to it. With a duplicated key the first occurrence counts.
std::optional<TextPosition> LocateJsonValue(std::string_view text, const JsonPath& path);

// A key that an object gives a second time, at that second occurrence.
struct DuplicateKey {
  JsonPath path;
  TextPosition at;
};

// The first duplicate key of the well-formed JSON `text`, or nothing. (The
// JSON library keeps the last of duplicates without a word.)
std::optional<DuplicateKey> FindDuplicateKey(std::string_view text);

// The position of byte `offset` of `text` (an offset past the end counts as
// the end).
TextPosition PositionOfOffset(std::string_view text, size_t offset);

// A path for people: modules[0].channels[1].points[2].ta ("" for the root).
std::string DescribeJsonPath(const JsonPath& path);

}  // namespace tarvo::sim
