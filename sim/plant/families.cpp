#include <vector>

#include "sim/plant/family.h"

namespace tarvo::sim {

// One file per family in this folder defines its entry.
extern const PlantFamily kPxr5100PlantFamily;
extern const PlantFamily kPxr5303PlantFamily;
extern const PlantFamily kPxr530xPlantFamily;
extern const PlantFamily kPxr5700PlantFamily;
extern const PlantFamily kPxr5760PlantFamily;

namespace {

const PlantFamily* const kFamilies[] = {
    &kPxr5100PlantFamily, &kPxr5303PlantFamily, &kPxr530xPlantFamily,
    &kPxr5700PlantFamily, &kPxr5760PlantFamily,
};

}  // namespace

std::span<const PlantFamily* const> PlantFamilies() { return kFamilies; }

const PlantFamily* FindPlantFamily(std::string_view name) {
  for (const PlantFamily* family : kFamilies)
    if (family->name == name) return family;
  return nullptr;
}

void CheckModuleKeys(const PlantNode& module, std::initializer_list<std::string_view> own) {
  std::vector<std::string_view> keys(std::begin(kCommonModuleKeys), std::end(kCommonModuleKeys));
  keys.insert(keys.end(), own.begin(), own.end());
  module.CheckKeys(keys);
}

}  // namespace tarvo::sim
