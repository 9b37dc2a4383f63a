#include "pxr530x/pxr530x.h"

#include "sensors/conversions.h"

namespace tarvo {
const sensor::Traits CPxr530x::kTraits = {
    .registers = sensor::kSensorRegisters,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSixteenths, 10},
               {sensors::ConvertHumidity, 50}}},
    .channels = 8,
    .points = 64,
    .addressCase = HexCase::kUpper,
    .scan = nullptr,
    .silentChannel = SilentChannel::kEndsTheScan,
    // Every entry of a list takes a record in the block answer.
    .countsListedEntries = true,
    .blockReadPerChannel = false,
    .settleBeforeRead = false,
    // Lets a module that answered for another address, or garbage, fall
    // quiet before the next command.
    .wrongAnswerPauseMs = 2000,
    .fixedWaitMs = 10000,
};

FamilyState<sensor::ModuleState>& CPxr530x::SharedTables() {
  static FamilyState<sensor::ModuleState> tables(sensor::ModuleMaker(kTraits));
  return tables;
}

CPxr530x::CPxr530x() : sensor::Driver(kTraits, SharedTables()) {}

}  // namespace tarvo
