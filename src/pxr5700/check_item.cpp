// The caches are indexed by an item's module and channel: an item that
// ParseItem cannot have produced is refused before anything is touched.
#include "pxr5700/pxr5700.h"
#include "pxr5700/registers.h"

namespace tarvo {

bool Cpxr5700::CheckItem(const IoItem& item) {
  if (!pxr5700::IsRegister(item.RegisterIndex)) return FailStep(ErrRegisterUnsupported);
  if (item.ModuleAddress < 0 || item.ModuleAddress >= pxr5700::kModules)
    return FailStep(ErrRegisterUnsupported);
  if (!pxr5700::ChannelInRange(item.RegisterIndex, item.Channel)) return FailStep(ErrChannelNumber);
  return true;
}

}  // namespace tarvo
