#include "pxr5760/pxr5760.h"

#include "driver/address.h"
#include "pxr5760/values.h"

namespace tarvo {

namespace {

constexpr RegisterSpec kRegisters[] = {
    {"TA", kAccessRead, kDataTypeFloat},    {"HB", kAccessRead, kDataTypeFloat},
    {"KT", kAccessRead, kDataTypeFloat},    {"LT", kAccessRead, kDataTypeFloat},
    {"DI", kAccessRead, kDataTypeDiscrete}, {"DO", kAccessReadWrite, kDataTypeDiscrete},
    {"AD", kAccessRead, kDataTypeFloat},
};

// ParseItem does not check sub-indices, and a host may pass an item it
// never filled: LT, AD, DI and DO need one the tables hold.
DriverError CheckSubIndex(const IoItem& item) {
  const bool perSubIndex = item.RegisterIndex == pxr5760::kLt ||
                           item.RegisterIndex == pxr5760::kAd ||
                           item.RegisterIndex == pxr5760::kDi || item.RegisterIndex == pxr5760::kDo;
  if (perSubIndex && (item.SubIndex < 0 || item.SubIndex >= pxr5760::kSubChannels))
    return ErrRegisterName;
  return ErrOk;
}

}  // namespace

const readcycle::Traits CPxr5760::kTraits = {
    .registers = kRegisters,
    .kinds = {},
    .channels = pxr5760::kChannels,
    .points = pxr5760::kPoints,
    .addressCase = HexCase::kLower,
    .scan = nullptr,
    .silentChannel = SilentChannel::kEndsTheScan,
    // A point listed twice or beyond the channel's 32 takes a record too.
    .countsListedEntries = true,
    .blockReadPerChannel = false,
    .settleBeforeRead = false,
    // After an answer from the wrong module, or none, the line is given
    // time to settle before the next exchange.
    .wrongAnswerPauseMs = 2000,
    .fixedWaitMs = 0,
    .recordFlags = pxr5760::RecordFlags,
    .checkItem = CheckSubIndex,
    .extract = pxr5760::Extract,
};

FamilyState<readcycle::Module>& CPxr5760::SharedTables() {
  static FamilyState<readcycle::Module> tables(
      readcycle::ModuleMaker<pxr5760::PointState>(kTraits));
  return tables;
}

CPxr5760::CPxr5760() : readcycle::Driver(kTraits, SharedTables()) {}

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

}  // namespace tarvo
