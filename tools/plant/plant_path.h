// Where a value sits in a plant document: its path from the top, as
// messages name it (modules[0].channels[1].ta), and its place in the text.
#pragma once

#include <cstddef>
#include <string>
#include <variant>
#include <vector>

namespace tarvo::plant {

// One step of a path: an object key or a list index.
using PlantStep = std::variant<std::string, size_t>;
using PlantPath = std::vector<PlantStep>;

struct TextPosition {
  size_t line = 1;    // counted from 1
  size_t column = 1;  // counted from 1, in bytes
};

// A path for people: modules[0].channels[1].points[2].ta ("" for the top).
std::string DescribePlantPath(const PlantPath& path);

}  // namespace tarvo::plant
