#include "pxr530x/sensor_module_driver.h"
#include "sensors/outlier_filter.h"

namespace tarvo::pxr530x {
namespace {
constexpr int32_t kScanTimeoutMs = 100;
}  // namespace

int32_t SensorModuleDriver::ReadItem(IoItem* item, IoValue* value) {
  // The tables are indexed by these numbers: refuse what ParseItem could
  // not have produced before touching anything.
  if (item->ModuleAddress < 0 || item->ModuleAddress >= kModules) return Fail(ErrModuleAddress);
  if (item->Channel < 0 || item->Channel >= traits_.channels) return Fail(ErrChannel);
  if (item->Point < 0 || item->Point >= traits_.points) return Fail(ErrPointNumber);
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const int kind = item->RegisterIndex;
  const bool knownKind = kind >= 1 && kind <= kRegisterKinds;

  ModuleState& state = tables_.Module(module);
  if (!state.scanned) {
    if (!ScanModule(state, module, kScanTimeoutMs)) return Fail(ErrInitModule);
    state.scanned = true;
  }

  PointState& point = state.Point(item->Channel, item->Point);
  if (knownKind && point.fresh.test(static_cast<size_t>(kind - 1)))
    return Deliver(point, kind, value);

  if (!PaceBlockRead(state) || !BlockRead(state, module)) return 0;
  // No sensor at this point, no record for it, or no such register.
  if (!knownKind || !point.fresh.test(static_cast<size_t>(kind - 1))) return Fail(ErrReadData);
  return Deliver(point, kind, value);
}

int32_t SensorModuleDriver::Deliver(PointState& point, int kind, IoValue* value) {
  const auto index = static_cast<size_t>(kind - 1);
  const RegisterKind& conversion = traits_.kinds[index];
  // A rejected record is used up too: the next read fetches a new one.
  point.fresh.reset(index);
  float converted = 0.0f;
  if (!conversion.convert(point.record.data(), &converted)) return Fail(ErrReadData);
  value->AnalogValue =
      sensors::ApplyOutlierFilter(&point.filters[index], converted, conversion.threshold);
  return Succeed();
}

}  // namespace tarvo::pxr530x
