#include "pxr5700/tables.h"

namespace tarvo::pxr5700 {

void Tables::Reset() {
  for (auto& module : modules_) module.reset();
}

ModuleState* Tables::Find(int module) { return modules_[static_cast<size_t>(module)].get(); }

ModuleState& Tables::Module(int module) {
  auto& state = modules_[static_cast<size_t>(module)];
  if (!state) state = std::make_unique<ModuleState>();
  return *state;
}

Tables& SharedTables() {
  static Tables tables;
  return tables;
}

}  // namespace tarvo::pxr5700
