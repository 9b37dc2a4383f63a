#include "pxr530x/pxr5303.h"

#include "sensors/conversions.h"

namespace tarvo {
namespace {

pxr530x::Tables& SharedTables() {
  static pxr530x::Tables tables(CPxr5303::kTraits.channels, CPxr5303::kTraits.points);
  return tables;
}

}  // namespace

const pxr530x::ClassTraits CPxr5303::kTraits = {
    .channels = 3,
    .points = 16,
    .scanBufferBytes = 2048,
    .scan = pxr530x::ScanKind::kSummary,
    .pacing = pxr530x::Pacing::kRefreshGate,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSignMagnitudeChecked, 10},
               {sensors::ConvertHalvesChecked, 50}}},
};

CPxr5303::CPxr5303() : SensorModuleDriver(kTraits, SharedTables()) {}

}  // namespace tarvo
