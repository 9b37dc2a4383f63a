#include "pxr530x/pxr530x.h"

#include "sensors/conversions.h"

namespace tarvo {
namespace {

pxr530x::Tables& SharedTables() {
  static pxr530x::Tables tables(CPxr530x::kTraits.channels, CPxr530x::kTraits.points);
  return tables;
}

}  // namespace

const pxr530x::ClassTraits CPxr530x::kTraits = {
    .channels = 8,
    .points = 64,
    .scanBufferBytes = 600,
    .scan = pxr530x::ScanKind::kPerChannel,
    .pacing = pxr530x::Pacing::kFixedWait,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSixteenths, 10},
               {sensors::ConvertHumidity, 50}}},
};

CPxr530x::CPxr530x() : SensorModuleDriver(kTraits, SharedTables()) {}

}  // namespace tarvo
