#include "support/rig_families.h"

#include "sim/pxr5100/module.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"
#include "tarvo/guids.h"

namespace tarvo::test {
namespace {

// TA 6.0 and 5.0 in the sensor families' records (half degrees in b0).
constexpr sim::RawRecord kSix = {12, 0, 0, 0};
constexpr sim::RawRecord kFive = {10, 0, 0, 0};

void Populate5100(sim::Bus& bus) {
  auto& module = bus.Emplace<sim::Pxr5100Module>(kRigModule);
  module.SetRecord(0, 0, kSix);
  module.SetRecord(0, 1, kFive);
}

template <class Module>
void PopulateSensor(sim::Bus& bus) {
  auto& module = bus.Emplace<Module>(kRigModule);
  module.SetRecord(0, 0, kSix);
  module.SetRecord(0, 1, kFive);
  module.SetRecord(1, 3, {0, 0, 0, 0});
}

void Populate5700(sim::Bus& bus) {
  bus.Emplace<sim::Pxr5700Module>(kRigModule).SetTemperatureRecord(1, kFive);
}

void Populate5760(sim::Bus& bus) {
  // TA in b3:b2 sixteenths: 6.0 and 5.0.
  auto& module = bus.Emplace<sim::Pxr5760Module>(kRigModule);
  module.SetRecord(0, 0, {0, 0, 96, 0});
  module.SetRecord(0, 1, {0, 0, 80, 0});
}

const FamilySpec kFamilies[kFamilyCount] = {
    {"pxr5100", &CLSID_Cpxr5100, Populate5100, "TA26.0.1", nullptr},
    {"pxr5303", &CLSID_CPxr5303, PopulateSensor<sim::Pxr5303Module>, "TA26.0.1", nullptr},
    {"pxr530x", &CLSID_CPxr530x, PopulateSensor<sim::Pxr530xModule>, "TA26.0.1", nullptr},
    {"pxr5700", &CLSID_Cpxr5700, Populate5700, "TA26.1", "DO26.7"},
    {"pxr5760", &CLSID_CPxr5760, Populate5760, "TA26.0.1", "DO26.0.1.3"},
};

}  // namespace

const FamilySpec& Family(size_t index) { return kFamilies[index]; }

}  // namespace tarvo::test
