#include "tools/poll/driver_classes.h"

#include <cctype>

#include "tarvo/guids.h"

namespace tarvo::tools {
namespace {

const DriverClass kClasses[] = {
    {"pxr5100", "Cpxr5100", "Tarvo.pxr5100", &CLSID_Cpxr5100, 1, RefreshRule::kChannelGate, 0, 2.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. TA5.1.2: register TA of module 5, channel 1, point 2\n"
     "module 0..127, channel 0..7, point 0..63; the name in any case"},
    {"pxr5303", "CPxr5303", "Tarvo.CPxr5303", &CLSID_CPxr5303, 1, RefreshRule::kModuleGate, 0, 2.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. TA5.0.3: register TA of module 5, channel 0, point 3\n"
     "module 0..127, channel 0..2, point 0..15; the name in any case"},
    {"pxr530x", "CPxr530x", "Tarvo.Pxr530x", &CLSID_CPxr530x, 1, RefreshRule::kBlockWait, 10, 1.0,
     0.0,
     "NAME MODULE.CHANNEL.POINT, e.g. WB12.7.63: register WB of module 12, channel 7, point 63\n"
     "module 0..127, channel 0..7, point 0..63; the name in any case"},
    {"pxr5700", "Cpxr5700", "Tarvo.pxr5700", &CLSID_Cpxr5700, 0, RefreshRule::kEachRead, 0, 1.0,
     0.0,
     "NAME MODULE.CHANNEL, e.g. DI5.3: digital input 3 of module 5\n"
     "module 0..127; DI and DO channel 0..7, TA, TB and WI channel 1..2"},
    {"pxr5760", "CPxr5760", "Tarvo.Pxr5760", &CLSID_CPxr5760, 1, RefreshRule::kModuleGate, 0, 2.0,
     2.0,
     "TA, HB, KT: NAME MODULE.CHANNEL.POINT, e.g. TA12.3.17\n"
     "LT, AD: NAME MODULE.CHANNEL.POINT.SUBCHANNEL, e.g. AD5.0.4.2 (sub-channel 0..7)\n"
     "DI, DO: NAME MODULE.CHANNEL.POINT.BIT, e.g. DO3.2.10.7 (bit 0..7)\n"
     "module 0..127, channel 0..7, point 0..31"},
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

const DriverClass* FindDriverClass(std::string_view name) {
  for (const DriverClass& entry : kClasses) {
    if (SameText(name, entry.family) || SameText(name, entry.className) ||
        SameText(name, entry.progId))
      return &entry;
  }
  return nullptr;
}

}  // namespace tarvo::tools
