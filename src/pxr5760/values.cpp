#include "pxr5760/values.h"

#include "sensors/bus_point_conversions.h"

namespace tarvo::pxr5760 {
namespace {

constexpr int32_t kThreshold = 10;

// The fresh flag of the item's value, or -1 when the tables have none.
int FreshFlag(int16_t reg, int16_t sub) {
  const bool subInRange = sub >= 0 && sub < kSubChannels;
  switch (reg) {
    case kTa:
      return kFreshTa;
    case kHb:
      return kFreshHb;
    case kKt:
      return kFreshKt;
    case kLt:
      return subInRange ? kFreshLt + sub : -1;
    case kDi:
    case kDo:
      return subInRange ? kFreshBit + sub : -1;
    case kAd:
      return subInRange ? kFreshAd + sub : -1;
    default:
      return -1;
  }
}

}  // namespace

readcycle::FreshFlags RecordFlags(const readcycle::Record& record) {
  const int sub = record[kRecordOutputByte] >> kRecordSubChannelShift;
  readcycle::FreshFlags flags;
  flags.set(kFreshTa);
  flags.set(kFreshHb);
  flags.set(kFreshKt);
  flags.set(static_cast<size_t>(kFreshAd + sub));
  flags.set(static_cast<size_t>(kFreshLt + sub));
  for (size_t bit = 0; bit < kSubChannels; ++bit) flags.set(kFreshBit + bit);
  return flags;
}

ExtractOutcome ExtractValue(PointState& point, int16_t reg, int16_t sub, ExtractMode mode,
                            IoValue* value) {
  const bool pending = mode == ExtractMode::kPending;
  const int flag = FreshFlag(reg, sub);
  if (flag < 0) return pending ? ExtractOutcome::kNothingFresh : ExtractOutcome::kReadData;

  if (!point.fresh.test(static_cast<size_t>(flag))) {
    if (pending) return ExtractOutcome::kNothingFresh;
    if (reg != kLt && reg != kAd) return ExtractOutcome::kReadData;
    const sensors::OutlierFilter& filter =
        reg == kLt ? point.lt[static_cast<size_t>(sub)] : point.ad[static_cast<size_t>(sub)];
    // A filter that never took a value has nothing to give: no invented 0.0.
    if (filter.valid != 1) return ExtractOutcome::kReadData;
    value->AnalogValue = filter.last;
    return ExtractOutcome::kDelivered;
  }

  const uint8_t* raw = point.record.data();
  const auto subIndex = static_cast<size_t>(sub);
  switch (reg) {
    case kTa:
      value->AnalogValue =
          sensors::ApplyOutlierFilter(&point.ta, sensors::BusPointTemperature(raw), kThreshold);
      break;
    case kHb:
      value->AnalogValue = sensors::BusPointHalves(raw);
      break;
    case kKt:
      value->AnalogValue =
          sensors::ApplyOutlierFilter(&point.kt, sensors::BusPointKt(raw), kThreshold);
      break;
    case kLt:
      value->AnalogValue = sensors::ApplyOutlierFilter(
          &point.lt[subIndex], sensors::BusPointTemperature(raw), kThreshold);
      break;
    case kDi:
      value->DiscreteValue = static_cast<uint32_t>(sensors::BusPointInputBit(raw, sub));
      break;
    case kDo:
      value->DiscreteValue = static_cast<uint32_t>(sensors::BusPointOutputBit(raw, sub));
      break;
    case kAd:
      // Read before any traffic, a normal analog reading ends a run of
      // hold-backs; read after a block read it does not.
      value->AnalogValue = sensors::ApplyOutlierFilter(
          &point.ad[subIndex], sensors::BusPointAnalog(raw), kThreshold,
          pending ? sensors::OnAccept::kResetRejects : sensors::OnAccept::kKeepRejects);
      break;
  }
  point.fresh.reset(static_cast<size_t>(flag));
  return ExtractOutcome::kDelivered;
}

ExtractOutcome Extract(const readcycle::Traits&, readcycle::PointRecord& point, const IoItem& item,
                       ExtractMode mode, IoValue* value) {
  // The point ModuleMaker<PointState> made.
  return ExtractValue(static_cast<PointState&>(point), item.RegisterIndex, item.SubIndex, mode,
                      value);
}

}  // namespace tarvo::pxr5760
