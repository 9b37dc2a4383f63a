#include "pxr530x/pxr530x.h"

#include "sensors/conversions.h"

namespace tarvo {
namespace {
constexpr int kChannels = 8;
constexpr int kPoints = 64;
// A whole module's block answer, 5 + 512 x 4 = 2053 bytes, fits the buffer.
static_assert(kFirstRecord + kRecordBytes * kChannels * kPoints <= readcycle::kAnswerBufferBytes);
}  // namespace

const readcycle::Traits CPxr530x::kTraits = {
    .registers = readcycle::kSensorRegisters,
    .kinds = {{{sensors::ConvertTempExtended, 10},
               {sensors::ConvertTemp12, 10},
               {sensors::ConvertTempSixteenths, 10},
               {sensors::ConvertHumidity, 50}}},
    .channels = kChannels,
    .points = kPoints,
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

FamilyState<readcycle::Module>& CPxr530x::SharedTables() {
  static FamilyState<readcycle::Module> tables(readcycle::ModuleMaker(kTraits));
  return tables;
}

CPxr530x::CPxr530x() : readcycle::Driver(kTraits, SharedTables()) {}

}  // namespace tarvo
