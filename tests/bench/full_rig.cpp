#include "bench/full_rig.h"

#include <cstdio>

#include "sim/pxr5100/module.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"

namespace tarvo::bench {
namespace {

// Time enough for any module's refresh gate (2 whole seconds).
constexpr int64_t kGateMs = 2000;

std::string Format(const char* pattern, int a, int b = 0, int c = 0, int d = 0) {
  char text[48];
  std::snprintf(text, sizeof text, pattern, a, b, c, d);
  return text;
}

// A plausible temperature per point. The other kinds read the same record
// bytes with their own conversions.
double Reading(int channel, int point) { return 15.0 + channel + point * 0.25; }

// A temperature sensor at every point of a sensor module.
template <class Module>
void AddSensors(sim::Bus& bus, int address) {
  auto& module = bus.Emplace<Module>(address);
  for (int c = 0; c < module.channels(); ++c)
    for (int p = 0; p < module.points(); ++p) module.SetValues(c, p, {.ta = Reading(c, p)});
}

}  // namespace

const test::FamilySpec& Spec(Family family) { return test::Family(static_cast<size_t>(family)); }

void AddFullModule(sim::Bus& bus, Family family, int address) {
  switch (family) {
    case Family::kPxr5100:
      return AddSensors<sim::Pxr5100Module>(bus, address);
    case Family::kPxr5303:
      return AddSensors<sim::Pxr5303Module>(bus, address);
    case Family::kPxr530x:
      return AddSensors<sim::Pxr530xModule>(bus, address);
    case Family::kPxr5700: {
      auto& module = bus.Emplace<sim::Pxr5700Module>(address);
      module.SetInputs(0xA5);
      module.SetOutputs(0x3C);
      module.SetTemperatureRecord(1, {0x2F, 0x00, 0x05, 0x10});
      module.SetTemperatureRecord(2, {0x31, 0x00, 0x07, 0x10});
      module.SetNumericText(1, "123.4");
      module.SetNumericText(2, "-56.7");
      return;
    }
    case Family::kPxr5760: {
      auto& module = bus.Emplace<sim::Pxr5760Module>(address);
      for (int c = 0; c < sim::Pxr5760Module::kChannels; ++c)
        for (int p = 0; p < sim::Pxr5760Module::kPoints; ++p)
          module.SetRecord(c, p,
                           {static_cast<uint8_t>(40 + p), 0x00, static_cast<uint8_t>(p << 5),
                            static_cast<uint8_t>(c)});
      return;
    }
  }
}

FullRig::FullRig(test::FakeSerial& serial, int32_t port, Family family,
                 const std::vector<int>& modules)
    : FamilyRig(serial, port, Spec(family), "100"), family_(family) {
  for (int module : modules) AddFullModule(bus(), family, module);
}

bool FullRig::Parse(const std::vector<std::string>& addresses, std::vector<IoItem>* items) {
  items->clear();
  for (const std::string& address : addresses) {
    IoItem item{};
    // DI and DO are discrete in both families that have them.
    const bool discrete = address.rfind("DI", 0) == 0 || address.rfind("DO", 0) == 0;
    item.DataType = discrete ? kDataTypeDiscrete : kDataTypeFloat;
    if (driver().ParseItem(address.c_str(), &item) != 1) {
      error_ = "ParseItem refused " + address;
      return false;
    }
    items->push_back(item);
  }
  return true;
}

std::vector<std::string> FullRig::AllAddresses(int module) const {
  std::vector<std::string> all;
  switch (family_) {
    case Family::kPxr5100:
      for (int p = 0; p < 64; ++p)
        for (const char* kind : {"TA", "TB", "WA", "WB", "UA", "UB", "WM"})
          all.push_back(kind + Format("%d.0.%d", module, p));
      break;
    case Family::kPxr5303:
    case Family::kPxr530x: {
      const int channels = family_ == Family::kPxr5303 ? 3 : 8;
      const int points = family_ == Family::kPxr5303 ? 16 : 64;
      for (int c = 0; c < channels; ++c)
        for (int p = 0; p < points; ++p)
          for (const char* kind : {"TA", "TB", "WA", "WB"})
            all.push_back(kind + Format("%d.%d.%d", module, c, p));
      break;
    }
    case Family::kPxr5700:
      for (int c = 0; c < 8; ++c) all.push_back("DI" + Format("%d.%d", module, c));
      for (int c = 0; c < 8; ++c) all.push_back("DO" + Format("%d.%d", module, c));
      for (const char* kind : {"TA", "TB", "WI"})
        for (int c = 1; c <= 2; ++c) all.push_back(kind + Format("%d.%d", module, c));
      break;
    case Family::kPxr5760:
      for (int c = 0; c < 8; ++c)
        for (int p = 0; p < 32; ++p) {
          for (const char* kind : {"TA", "HB", "KT"})
            all.push_back(kind + Format("%d.%d.%d", module, c, p));
          for (const char* kind : {"LT", "AD", "DI"})
            for (int s = 0; s < 8; ++s)
              all.push_back(kind + Format("%d.%d.%d.%d", module, c, p, s));
        }
      break;
  }
  return all;
}

std::vector<std::string> FullRig::ArmingAddresses(int module) const {
  switch (family_) {
    case Family::kPxr5100:
      return {"TA" + Format("%d.0.0", module)};
    case Family::kPxr5700:
      return {"DI" + Format("%d.0", module), "DO" + Format("%d.0", module),
              "TA" + Format("%d.1", module), "WI" + Format("%d.1", module)};
    default:
      return {"TA" + Format("%d.0.0", module)};
  }
}

bool FullRig::Arm(int module) {
  std::vector<IoItem> items;
  if (!Parse(ArmingAddresses(module), &items)) return false;
  serial().clock().Advance(kGateMs);
  for (IoItem& item : items) {
    const size_t writes = line().writes().size();
    IoValue value{};
    const int32_t result = driver().ReadItem(0, &item, &value);
    if (line().writes().size() == writes) {
      // Still fresh from before: deliver it, then exchange.
      if (result != 1 || driver().ReadItem(0, &item, &value) != 1) {
        error_ = std::string("arming read failed: ") + driver().GetErrorText();
        return false;
      }
    } else if (result != 1) {
      error_ = std::string("arming read failed: ") + driver().GetErrorText();
      return false;
    }
  }
  return true;
}

std::vector<IoItem> FullRig::FreshItems(int module) {
  std::vector<IoItem> candidates;
  if (!Parse(AllAddresses(module), &candidates)) return {};
  // A candidate that needed an exchange refreshed others out of turn, so
  // probe again with the survivors until a whole pass needs none.
  for (int pass = 0; pass < 8; ++pass) {
    if (pass > 0 && !Arm(module)) return {};
    std::vector<IoItem> fresh;
    for (const IoItem& candidate : candidates) {
      IoItem item = candidate;
      const size_t writes = line().writes().size();
      IoValue value{};
      if (driver().ReadItem(0, &item, &value) == 1 && line().writes().size() == writes)
        fresh.push_back(candidate);
    }
    if (fresh.size() == candidates.size()) return fresh;
    candidates = std::move(fresh);
  }
  error_ = "no stable set of fresh items";
  return {};
}

int FullRig::ReadAll(const std::vector<IoItem>& items) {
  int failed = 0;
  for (const IoItem& original : items) {
    IoItem item = original;
    IoValue value{};
    if (driver().ReadItem(0, &item, &value) != 1) ++failed;
  }
  return failed;
}

}  // namespace tarvo::bench
