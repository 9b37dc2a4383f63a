#include "sim/plant/plant.h"

#include <nlohmann/json.hpp>

#include "sim/plant/family.h"
#include "sim/plant/faults_reader.h"
#include "sim/plant/plant_error.h"
#include "sim/plant/plant_node.h"

namespace tarvo::sim {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kLastAddress = 127;

std::string Located(std::string_view source, TextPosition at, const std::string& message) {
  return std::string(source) + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
         ": " + message;
}

// The JSON library's syntax message without its own prefix and position,
// which the caller gives in the file:line:column form.
std::string SyntaxMessage(const nlohmann::json::parse_error& e) {
  std::string text = e.what();
  const size_t column = text.find("column ");
  if (column != std::string::npos) {
    const size_t colon = text.find(": ", column);
    if (colon != std::string::npos) text = text.substr(colon + 2);
  }
  return "not valid JSON: " + text;
}

void ReadModules(const PlantNode& root, Plant& plant) {
  root.CheckKeys({"modules", "comment"});
  std::vector<const PlantNode*> byAddress(kLastAddress + 1, nullptr);
  const std::vector<PlantNode> modules = root.At("modules").Elements();
  for (const PlantNode& node : modules) {
    if (!node.IsObject()) node.Fail("expected an object {...} describing a module");
    const PlantNode familyNode = node.At("family");
    const std::string familyName = familyNode.String();
    const PlantFamily* family = FindPlantFamily(familyName);
    if (family == nullptr) {
      std::string known;
      for (const PlantFamily* f : PlantFamilies())
        known += (known.empty() ? "" : ", ") + std::string(f->name);
      familyNode.Fail("unknown family \"" + familyName + "\"; this simulator serves: " + known);
    }
    const PlantNode addressNode = node.At("address");
    const int address = static_cast<int>(addressNode.Integer(0, kLastAddress));
    if (const PlantNode* other = byAddress[static_cast<size_t>(address)]) {
      addressNode.Fail("address " + std::to_string(address) + " is taken by " +
                       DescribeJsonPath(other->path()));
    }
    byAddress[static_cast<size_t>(address)] = &node;

    std::string name;
    if (auto nameNode = node.Find("name")) name = nameNode->String();
    if (auto comment = node.Find("comment")) comment->String();
    PlantModule built = family->build(node, address);
    if (auto faults = node.Find("faults")) {
      const FaultSetting setting = ReadFaults(*faults);
      built.module->SetFaults(setting.faults, setting.answers);
    }
    plant.Add({address, std::string(family->name), name, built.summary}, std::move(built.module),
              std::move(built.update));
  }
}

}  // namespace

void Plant::Update(double seconds) {
  auto hold = bus_.Hold();
  for (auto& update : updates_) update(seconds);
}

void Plant::Add(Entry entry, std::unique_ptr<Module> module, std::function<void(double)> update) {
  bus_.Add(std::move(module));
  entries_.push_back(std::move(entry));
  if (update) updates_.push_back(std::move(update));
}

std::unique_ptr<Plant> LoadPlant(std::string_view text, std::string_view source) {
  if (text.find_first_not_of(" \t\r\n") == std::string_view::npos)
    throw PlantError(std::string(source) +
                     ":1:1: the plant is empty; it needs {\"modules\": [...]}");
  Json root;
  try {
    root = Json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    const size_t offset = e.byte > 0 ? e.byte - 1 : 0;
    throw PlantError(Located(source, PositionOfOffset(text, offset), SyntaxMessage(e)));
  }
  if (const std::optional<DuplicateKey> duplicate = FindDuplicateKey(text))
    throw PlantError(
        Located(source, duplicate->at,
                PlantValueError(duplicate->path, "the object gives this key twice").what()));
  auto plant = std::make_unique<Plant>();
  try {
    ReadModules(PlantNode(root, {}), *plant);
  } catch (const PlantValueError& e) {
    const TextPosition at = LocateJsonValue(text, e.path()).value_or(TextPosition{});
    throw PlantError(Located(source, at, e.what()));
  }
  return plant;
}

std::string DefaultPlantText() {
  std::string text = "{\"modules\": [\n";
  bool first = true;
  for (const PlantFamily* family : PlantFamilies()) {
    if (!first) text += ",\n";
    text += family->defaultModule;
    first = false;
  }
  text += "\n]}\n";
  return text;
}

}  // namespace tarvo::sim
