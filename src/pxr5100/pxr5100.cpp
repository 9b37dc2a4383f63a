#include "pxr5100/pxr5100.h"

#include "sensors/conversions.h"

namespace tarvo {
namespace {

constexpr RegisterSpec kRegisters[] = {
    {"TA", kAccessRead, kDataTypeFloat}, {"TB", kAccessRead, kDataTypeFloat},
    {"WA", kAccessRead, kDataTypeFloat}, {"WB", kAccessRead, kDataTypeFloat},
    {"UA", kAccessRead, kDataTypeFloat}, {"UB", kAccessRead, kDataTypeFloat},
    {"WM", kAccessRead, kDataTypeFloat},
};

}  // namespace

const readcycle::Traits Cpxr5100::kTraits = {
    .registers = kRegisters,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSixteenths, 10},
               {sensors::ConvertHumidity, 50},
               {sensors::ConvertTempSignMagnitude, 10},
               {sensors::ConvertHalves, 10},
               {sensors::ConvertHundredths, 50}}},
    .channels = kLastChannel + 1,
    .points = kLastPoint + 1,
    .addressCase = HexCase::kLower,
    .scan = nullptr,
    .silentChannel = SilentChannel::kFails,
    // A block answer carries one record per present point.
    .countsListedEntries = false,
    .blockReadPerChannel = true,
    .settleBeforeRead = true,
    .wrongAnswerPauseMs = 0,
    .fixedWaitMs = 0,
};

FamilyState<readcycle::Module>& Cpxr5100::SharedTables() {
  static FamilyState<readcycle::Module> tables(readcycle::ModuleMaker(kTraits));
  return tables;
}

Cpxr5100::Cpxr5100() : readcycle::Driver(kTraits, SharedTables()) {}

}  // namespace tarvo
