// Reading the text of a plant document. The text is YAML: comments (#),
// block or flow style; JSON reads too, being YAML's flow style. A quoted
// scalar is a text ("5" is not a number); an unquoted one is true, false,
// null, a number or a text as YAML's core schema reads it. What a plant
// has no use for is refused rather than guessed at: a key given twice in
// an object, anchors and aliases, tags, more than one document, values
// nested deeper than kMaxPlantDepth, numbers out of range, a key that is
// not a scalar, bytes that are not UTF-8.
#pragma once

#include <functional>
#include <string_view>

#include "tools/plant/plant_node.h"
#include "tools/plant/plant_value.h"

namespace tarvo::plant {

inline constexpr size_t kMaxPlantDepth = 64;

// The top value of `text`: null at 1:1 for a text with no value (empty,
// or only comments). Throws PlantError naming `source`, the line and the
// column of what is wrong, e.g.
//   plant.yaml:3:14: not valid YAML: illegal map value
PlantValue ParsePlantDocument(std::string_view text, std::string_view source);

// Reads `text` and gives its top value to `read`. A value `read` fails on
// throws PlantError naming `source`, the line and the column too.
void ReadPlantDocument(std::string_view text, std::string_view source,
                       const std::function<void(const PlantNode&)>& read);

}  // namespace tarvo::plant
