// A plant: a bus of simulated modules of any families, read from a plant
// document (YAML or JSON, tools/plant/), whose values move with time. The
// description, in JSON's form:
//   {"modules": [
//      {"family": "pxr5100", "address": 1, "name": "boiler room",
//       "faults": {"delay_ms": 400, "answers": 3},
//       ...the family's own keys (sim/plant/<family>.cpp)...},
//      ...]}
// Addresses are 0..127 and unique on the bus; "name" and "comment" are for
// people; "faults" holds fault switches (sim/plant/faults_reader.h).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bus.h"

namespace tarvo::sim {

class Plant {
 public:
  struct Entry {
    int address;
    std::string family;
    std::string name;     // may be empty
    std::string summary;  // what the family says it simulates
  };

  Plant() = default;
  Plant(const Plant&) = delete;
  Plant& operator=(const Plant&) = delete;

  Bus& bus() { return bus_; }
  // The modules, in the order of the description.
  const std::vector<Entry>& modules() const { return entries_; }

  // Sets every module's values for `seconds` since the plant started,
  // holding the bus. Call it from one thread.
  void Update(double seconds);

  // Adds a module read by a family (LoadPlant does this).
  void Add(Entry entry, std::unique_ptr<Module> module, std::function<void(double)> update);

 private:
  Bus bus_;
  std::vector<Entry> entries_;
  std::vector<std::function<void(double)>> updates_;
};

// Reads a plant from its description. `source` names the text in messages,
// usually the file name. Throws PlantError whose text names the source, the
// line and the column of what is wrong, e.g.
//   plant.yaml:4:5: modules[0].address: expected a whole number from 0 to 127, found 200
// The modules' values are those at 0 seconds.
std::unique_ptr<Plant> LoadPlant(std::string_view text, std::string_view source);

// The built-in plant: one module of each family, addresses 1, 2, ...
std::string DefaultPlantText();

}  // namespace tarvo::sim
