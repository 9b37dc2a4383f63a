// A module family as a plant description knows it. Each family has one
// file in this folder that reads its modules (the keys beside "family",
// "address", "name", "faults" and "comment") into a simulated module and a
// function that moves the module's values, and gives the family's module of
// the built-in default plant; families.cpp lists them.
//
// Adding a family: write sim/plant/<family>.cpp defining
//   extern const PlantFamily k<Family>PlantFamily = {name, description,
//                                                     &Build, defaultModule};
// and add one line to the table in families.cpp.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "sim/module.h"
#include "sim/plant/plant_names.h"

namespace tarvo::sim {

// A module read from a plant description.
struct PlantModule {
  std::unique_ptr<Module> module;
  // Sets the module's values for `seconds` since the plant started. Called
  // with the module's bus held; empty when the values never change.
  std::function<void(double seconds)> update;
  // What it simulates, for people: "5 points on 2 channels".
  std::string summary;
};

struct PlantFamily {
  std::string_view name;         // as in the plant file: "pxr5100"
  std::string_view description;  // one line for people
  // Reads the module at `address` (0..127) described by `module`; throws
  // PlantValueError naming the value that does not fit.
  PlantModule (*build)(const PlantNode& module, int address);
  // The family's module in the built-in default plant: a JSON object with
  // "family" and "address".
  std::string_view defaultModule;
};

// The keys every module may have; a family accepts these and its own.
inline constexpr std::string_view kCommonModuleKeys[] = {"family", "address", "name", "faults",
                                                         "comment"};

// Checks the keys of a module description against the common keys and the
// family's own.
void CheckModuleKeys(const PlantNode& module, std::initializer_list<std::string_view> own);

// Every family the simulator can serve, in the order of the default plant.
std::span<const PlantFamily* const> PlantFamilies();
// The family called `name` (exactly), or null.
const PlantFamily* FindPlantFamily(std::string_view name);

}  // namespace tarvo::sim
