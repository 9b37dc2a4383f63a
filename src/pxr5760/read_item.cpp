#include "pxr5760/distribute.h"
#include "pxr5760/extract_value.h"
#include "pxr5760/item_check.h"
#include "pxr5760/pxr5760.h"
#include "pxr5760/wire.h"

namespace tarvo {
namespace {
constexpr int32_t kScanTimeoutMs = 100;
}  // namespace

int32_t CPxr5760::ReadItem(IoItem* item, IoValue* value) {
  using pxr5760::ExtractMode;
  using pxr5760::ExtractOutcome;
  // An item no value can come from is refused before it costs an exchange.
  if (item->RegisterIndex < pxr5760::kTa || item->RegisterIndex > pxr5760::kAd)
    return Fail(ErrReadData);
  if (const DriverError code = pxr5760::CheckItemNumbers(*item); code != ErrOk) return Fail(code);
  const auto module = static_cast<uint8_t>(item->ModuleAddress);

  pxr5760::ModuleState& state = pxr5760::SharedTables().Module(module);
  if (!state.scanned) {
    if (!ScanModule(state, module, kScanTimeoutMs)) return Fail(ErrInitModule);
    state.scanned = true;
  }

  pxr5760::PointState& point =
      state.points[static_cast<size_t>(item->Channel)][static_cast<size_t>(item->Point)];
  const int16_t reg = item->RegisterIndex;
  const int16_t sub = item->SubIndex;
  if (pxr5760::ExtractValue(point, reg, sub, ExtractMode::kPending, value) ==
      ExtractOutcome::kDelivered)
    return Succeed();

  if (!pxr5760::TakeRefreshGate(state)) return Fail(ErrDelayNotElapsed);
  uint8_t answer[pxr5760::kAnswerBufferSize];
  if (!BlockRead(state, module, answer)) return 0;
  pxr5760::Distribute(state, answer);
  if (pxr5760::ExtractValue(point, reg, sub, ExtractMode::kAfterBlockRead, value) ==
      ExtractOutcome::kDelivered)
    return Succeed();
  return Fail(ErrReadData);
}

}  // namespace tarvo
