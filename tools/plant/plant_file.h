// A plant file for tarvo-poll: the items of each class on one line, with
// what people call them. A plant document (YAML or JSON, tools/plant/) in
// the style of pxrsim's plant files:
//   classes:
//     - class: pxr5100
//       items:
//         - {item: TA1.0.0, name: boiler flow, unit: °C}
//         - item: TA1.1.0
//     - class: pxr5700
//       items: [{item: DI4.0, name: door}]
//       writes: [DO4.2=1]
// "comment" may stand beside any key.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/plant/line_config.h"
#include "tools/plant/plant_node.h"

namespace tarvo::tools {

// The whole text of a file; throws std::runtime_error when it cannot be read.
std::string ReadPlantText(const std::string& path);

// One class group: {"class": ..., "items": [...], "writes": [...]}; with
// topics, an item may carry a "topic" and a "modbus" register too (the
// gateway reads the latter). Each item's `where` names `source` and the
// item's line and column.
ClassGroup ReadClassGroup(const plant::PlantNode& node, bool topics, std::string_view source);
// Gives the places of a group's items `context` after their position, e.g.
// " (line boiler, pxr5700)".
void SetPlaceContext(ClassGroup* group, std::string context);

// The class groups of a plant file's text. Throws std::runtime_error whose
// text names `source`, the line and the column of what is wrong, e.g.
//   plant.yaml:3:14: classes[0].items[1].item: expected a text "...", found a number
std::vector<ClassGroup> ReadPollPlant(std::string_view text, std::string_view source);
// The same, the text read once, or nothing when it is tarvo-gateway's (an
// object with "lines").
std::optional<std::vector<ClassGroup>> ReadPollPlantUnlessLines(std::string_view text,
                                                                std::string_view source);

// Whether a plant file's text is tarvo-gateway's: an object with "lines".
// False for a text that is not a plant document (its reader says why).
bool HasPlantLines(std::string_view text, std::string_view source);

// The same for a file; a file that cannot be read is an error too.
std::vector<ClassGroup> ReadPollPlantFile(const std::string& path);

// A plant file's writes switch outputs: a tool that checks or reads a plant
// makes them only when asked (--plant-writes). Takes them out of the
// groups; the note says which were left unmade, "" when none.
std::string LeaveWritesUnmade(std::vector<ClassGroup>* groups);
// The same note, the groups left as they are.
std::string UnmadeWritesNote(const std::vector<ClassGroup>& groups);

}  // namespace tarvo::tools
