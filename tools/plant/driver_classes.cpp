#include "tools/plant/driver_classes.h"

#include <cctype>

#include "tarvo/guids.h"

namespace tarvo::tools {
namespace {

constexpr AddressPart kModule{"module", 0, 127};
constexpr AddressForm kChains8x64[] = {{"", {kModule, {"channel", 0, 7}, {"point", 0, 63}}, 3}};
constexpr AddressForm kSensors3x16[] = {{"", {kModule, {"channel", 0, 2}, {"point", 0, 15}}, 3}};
constexpr AddressForm kInputsOutputs[] = {{"DI DO", {kModule, {"channel", 0, 7}}, 2},
                                          {"", {kModule, {"channel", 1, 2}}, 2}};
constexpr AddressForm kBusPoints[] = {
    {"LT AD", {kModule, {"channel", 0, 7}, {"point", 0, 31}, {"sub-channel", 0, 7}}, 4},
    {"DI DO", {kModule, {"channel", 0, 7}, {"point", 0, 31}, {"bit", 0, 7}}, 4},
    {"", {kModule, {"channel", 0, 7}, {"point", 0, 31}}, 3}};

// A point's LT and AD sub-channels (a block read brings one sub-channel's
// record), and its DI and DO of one bit.
constexpr SharedFreshValue kBusPointShared[] = {{{4, 7}, false}, {{5, 6}, true}};

// Head ">" mm, two bytes, then 4-byte records: a full channel of 64 points
// (pxr5100), a full module of 3 x 16 (pxr5303), 8 x 64 (pxr530x) or 8 x 32
// (pxr5760) points. The longest pxr5700 reply is the numeric one:
// ">" mm "2," t1 "," t2 CR.
constexpr int32_t kRecordsFrom = 5;
constexpr int32_t kRecordBytes = 4;

const DriverClass kClasses[] = {
    {"pxr5100",
     "Cpxr5100",
     "Tarvo.pxr5100",
     &CLSID_Cpxr5100,
     1,
     RefreshRule::kChannelGate,
     0,
     2.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. TA5.1.2: register TA of module 5, channel 1, point 2\n"
     "module 0..127, channel 0..7, point 0..63; the name in any case",
     kChains8x64,
     {kRecordsFrom + 64 * kRecordBytes, 2, 0},
     {}},
    {"pxr5303",
     "CPxr5303",
     "Tarvo.CPxr5303",
     &CLSID_CPxr5303,
     1,
     RefreshRule::kModuleGate,
     0,
     2.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. TA5.0.3: register TA of module 5, channel 0, point 3\n"
     "module 0..127, channel 0..2, point 0..15; the name in any case",
     kSensors3x16,
     {kRecordsFrom + 3 * 16 * kRecordBytes, 1, 0},
     {}},
    {"pxr530x",
     "CPxr530x",
     "Tarvo.Pxr530x",
     &CLSID_CPxr530x,
     1,
     RefreshRule::kBlockWait,
     10,
     1.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. WB12.7.63: register WB of module 12, channel 7, point 63\n"
     "module 0..127, channel 0..7, point 0..63; the name in any case",
     kChains8x64,
     {kRecordsFrom + 8 * 64 * kRecordBytes, 1, 0},
     {}},
    {"pxr5700",
     "Cpxr5700",
     "Tarvo.pxr5700",
     &CLSID_Cpxr5700,
     0,
     RefreshRule::kEachRead,
     0,
     1.0,
     0.0,
     "NAME MODULE.CHANNEL, e.g. DI5.3: digital input 3 of module 5\n"
     "module 0..127; DI and DO channel 0..7, TA, TB and WI channel 1..2",
     kInputsOutputs,
     {17, 1, 100},
     {}},
    {"pxr5760",
     "CPxr5760",
     "Tarvo.Pxr5760",
     &CLSID_CPxr5760,
     1,
     RefreshRule::kModuleGate,
     0,
     2.0,
     2.0,
     "TA, HB, KT: NAME MODULE.CHANNEL.POINT, e.g. TA12.3.17\n"
     "LT, AD: NAME MODULE.CHANNEL.POINT.SUBCHANNEL, e.g. AD5.0.4.2 (sub-channel 0..7)\n"
     "DI, DO: NAME MODULE.CHANNEL.POINT.BIT, e.g. DO3.2.10.7 (bit 0..7)\n"
     "module 0..127, channel 0..7, point 0..31",
     kBusPoints,
     {kRecordsFrom + 8 * 32 * kRecordBytes, 1, 0},
     kBusPointShared},
};

struct RegisterQuantity {
  std::string_view family;
  std::string_view registers;  // names separated by spaces
  Quantity quantity;
};

// The registers whose value has a unit; every other one is plain (pxr5100
// UB and WM, pxr5700 WI, pxr5760 HB and KT).
constexpr RegisterQuantity kQuantities[] = {
    {"pxr5100", "TA TB WA UA", Quantity::kTemperature},
    {"pxr5100", "WB", Quantity::kHumidity},
    {"pxr5303", "TA TB WA", Quantity::kTemperature},
    {"pxr5303", "WB", Quantity::kHumidity},
    {"pxr530x", "TA TB WA", Quantity::kTemperature},
    {"pxr530x", "WB", Quantity::kHumidity},
    {"pxr5700", "TA TB", Quantity::kTemperature},
    {"pxr5700", "DI DO", Quantity::kState},
    {"pxr5760", "TA LT", Quantity::kTemperature},
    {"pxr5760", "AD", Quantity::kVoltage},
    {"pxr5760", "DI DO", Quantity::kState},
};

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::span<const DriverClass> DriverClasses() { return kClasses; }

const AddressForm* DriverClass::FormOf(std::string_view registerName) const {
  for (const AddressForm& form : addressForms) {
    if (form.registers.empty()) return &form;
    for (size_t at = 0; at + 2 <= form.registers.size(); at += 3)
      if (form.registers.substr(at, 2) == registerName) return &form;
  }
  return nullptr;
}

Quantity QuantityOf(std::string_view family, std::string_view registerName) {
  for (const RegisterQuantity& entry : kQuantities) {
    if (entry.family != family) continue;
    for (size_t at = 0; at + 2 <= entry.registers.size(); at += 3)
      if (entry.registers.substr(at, 2) == registerName) return entry.quantity;
  }
  return Quantity::kPlain;
}

const DriverClass* FindDriverClass(std::string_view name) {
  for (const DriverClass& entry : kClasses) {
    if (SameText(name, entry.family) || SameText(name, entry.className) ||
        SameText(name, entry.progId))
      return &entry;
  }
  return nullptr;
}

}  // namespace tarvo::tools
