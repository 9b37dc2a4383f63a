#include "driver/trace.h"
#include "pxr5100/kinds.h"
#include "pxr5100/pxr5100.h"

namespace tarvo {
namespace {
constexpr int32_t kScanTimeoutMs = 100;
}  // namespace

int32_t Cpxr5100::ReadItem(IoItem* item, IoValue* value) {
  // The tables are indexed by these numbers: refuse what ParseItem could
  // not have produced before touching anything.
  if (item->ModuleAddress < 0 || item->ModuleAddress >= pxr5100::kModules)
    return Fail(ErrModuleAddress);
  if (item->Channel < 0 || item->Channel > kLastChannel) return Fail(ErrChannel);
  if (item->Point < 0 || item->Point > kLastPoint) return Fail(ErrPointNumber);
  const auto module = static_cast<uint8_t>(item->ModuleAddress);
  const int channel = item->Channel;
  const int kind = item->RegisterIndex;
  const bool knownKind = kind >= 1 && kind <= pxr5100::kKinds;

  pxr5100::ModuleState& state = pxr5100::SharedTables().Module(module);
  if (!state.scanned && !ScanModule(module, kScanTimeoutMs)) return Fail(ErrInitModule);

  pxr5100::PointState& point =
      state.points[static_cast<size_t>(channel)][static_cast<size_t>(item->Point)];
  if (knownKind && point.fresh.test(static_cast<size_t>(kind - 1)))
    return Deliver(point, kind, value);

  if (!BlockRead(state, module, channel)) return 0;
  // No sensor at this point, or no such kind: nothing fresh to hand out.
  if (!knownKind || !point.fresh.test(static_cast<size_t>(kind - 1))) return Fail(ErrReadData);
  return Deliver(point, kind, value);
}

int32_t Cpxr5100::Deliver(pxr5100::PointState& point, int kind, IoValue* value) {
  const auto index = static_cast<size_t>(kind - 1);
  const pxr5100::Kind& conversion = pxr5100::kKindTable[index];
  point.fresh.reset(index);
  float converted = 0.0f;
  if (!conversion.convert(point.record.data(), &converted)) return Fail(ErrReadData);
  value->AnalogValue =
      sensors::ApplyOutlierFilter(&point.filters[index], converted, conversion.threshold);
  return Succeed();
}

}  // namespace tarvo
