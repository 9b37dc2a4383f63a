#include "sim/plant/plant.h"

#include "sim/plant/family.h"
#include "sim/plant/faults_reader.h"
#include "sim/plant/plant_names.h"
#include "tools/plant/plant_document.h"

namespace tarvo::sim {
namespace {

constexpr int kLastAddress = 127;

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
                       plant::DescribePlantPath(other->path()));
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
  auto plant = std::make_unique<Plant>();
  plant::ReadPlantDocument(text, source, [&](const PlantNode& root) {
    // Nothing but blanks and comments.
    if (root.IsNull()) root.Fail("the plant is empty; it needs {\"modules\": [...]}");
    ReadModules(root, *plant);
  });
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
