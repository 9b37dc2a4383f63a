#include "pxr5760/pxr5760.h"

#include "driver/address.h"
#include "serial/clock.h"

namespace tarvo {

CPxr5760::CPxr5760()
    : DriverBase({{"TA", kAccessRead, kDataTypeFloat},
                  {"HB", kAccessRead, kDataTypeFloat},
                  {"KT", kAccessRead, kDataTypeFloat},
                  {"LT", kAccessRead, kDataTypeFloat},
                  {"DI", kAccessRead, kDataTypeDiscrete},
                  {"DO", kAccessReadWrite, kDataTypeDiscrete},
                  {"AD", kAccessRead, kDataTypeFloat}}) {
  SharedTables().Reset(serial::CurrentClock().NowSeconds());
}

FamilyState<pxr5760::ModuleState>& CPxr5760::SharedTables() {
  static FamilyState<pxr5760::ModuleState> tables;
  return tables;
}

int32_t CPxr5760::ParseItem(const char* address, IoItem* item) {
  const int16_t index = FindRegister(address);
  if (index == 0) return Fail(ErrRegisterUnsupported);
  const bool discrete = index == pxr5760::kDi || index == pxr5760::kDo;
  if (item->DataType != (discrete ? kDataTypeDiscrete : kDataTypeFloat)) return Fail(ErrDataType);
  item->RegisterIndex = index;

  int32_t module = 0;
  if (!ParseModuleDigits(address, 3, &module)) return Fail(ErrRegisterUnsupported);
  item->ModuleAddress = module;

  int16_t channel = 0;
  int16_t point = 0;
  const bool plain = index == pxr5760::kTa || index == pxr5760::kHb || index == pxr5760::kKt;
  if (plain) {
    if (!ParseChannelPoint(address, &channel, &point)) return Fail(ErrRegisterName);
  } else {
    int16_t sub = 0;
    if (!ParsePointAddress3(address, &channel, &point, &sub)) return Fail(ErrRegisterName);
    item->SubIndex = sub;
  }
  item->Channel = channel;
  item->Point = point;

  if (module > 127) return Fail(ErrModuleAddress);
  if (channel < 0 || channel > pxr5760::kChannels - 1) return Fail(ErrChannel);
  // Points 32..63 are accepted here; reads and writes refuse them.
  if (point < 0 || point > 63) return Fail(ErrPointNumber);
  return Succeed();
}

bool CPxr5760::CheckItemNumbers(const IoItem& item) {
  if (item.ModuleAddress < 0 || item.ModuleAddress >= kModules) return FailStep(ErrModuleAddress);
  if (item.Channel < 0 || item.Channel >= pxr5760::kChannels) return FailStep(ErrChannel);
  if (item.Point < 0 || item.Point >= pxr5760::kPoints) return FailStep(ErrPointNumber);
  const bool perSubIndex = item.RegisterIndex == pxr5760::kLt ||
                           item.RegisterIndex == pxr5760::kAd ||
                           item.RegisterIndex == pxr5760::kDi || item.RegisterIndex == pxr5760::kDo;
  if (perSubIndex && (item.SubIndex < 0 || item.SubIndex >= pxr5760::kSubChannels))
    return FailStep(ErrRegisterName);
  return true;
}

}  // namespace tarvo
