#include "pxr5760/tables.h"

namespace tarvo::pxr5760 {

void Tables::Reset(int64_t now) {
  resetAt_ = now;
  for (auto& module : modules_) module.reset();
}

ModuleState& Tables::Module(int module) {
  auto& state = modules_[static_cast<size_t>(module)];
  if (!state) state = std::make_unique<ModuleState>(resetAt_);
  return *state;
}

Tables& SharedTables() {
  static Tables tables;
  return tables;
}

}  // namespace tarvo::pxr5760
