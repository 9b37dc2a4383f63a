#include "pxr5760/item_check.h"

#include "pxr5760/tables.h"

namespace tarvo::pxr5760 {

DriverError CheckItemNumbers(const IoItem& item) {
  if (item.ModuleAddress < 0 || item.ModuleAddress >= kModules) return ErrModuleAddress;
  if (item.Channel < 0 || item.Channel >= kChannels) return ErrChannel;
  if (item.Point < 0 || item.Point >= kPoints) return ErrPointNumber;
  const bool perSubIndex = item.RegisterIndex == kLt || item.RegisterIndex == kAd ||
                           item.RegisterIndex == kDi || item.RegisterIndex == kDo;
  if (perSubIndex && (item.SubIndex < 0 || item.SubIndex >= kSubChannels)) return ErrRegisterName;
  return ErrOk;
}

}  // namespace tarvo::pxr5760
