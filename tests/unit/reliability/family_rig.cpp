#include "family_rig.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/error_text.h"
#include "server/server_classes.h"
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

DriverError CodeOf(const char* text) {
  for (int32_t code = 0; code < kErrorCount; ++code)
    if (std::strcmp(text, ErrorText(code)) == 0) return static_cast<DriverError>(code);
  throw std::logic_error(std::string("no code has the text ") + text);
}

}  // namespace

const FamilySpec& Family(size_t index) { return kFamilies[index]; }

FamilyRig::FamilyRig(const FamilySpec& spec, bool openPort) {
  serial_.line(1).SetPeer(bus_.Peer());
  spec.populate(bus_);
  module_ = bus_.Find(kRigModule);

  const ServerClass* cls = FindServerClass(*spec.clsid);
  void* object = nullptr;
  if (cls == nullptr || cls->create(IID_IIoDriver, &object) != S_OK)
    throw std::runtime_error(std::string("cannot create ") + spec.name);
  driver_ = static_cast<IIoDriver*>(object);

  settings_.BaudCode = 6;  // 9600 8N1 on port 1
  settings_.DataBitsCode = 1;
  settings_.ParityCode = 2;
  settings_.LineTimeout = 500;
  config_.Settings = &settings_;
  std::strcpy(config_.TimeoutText, kRigTimeout);
  if (openPort && OpenPort() != 1) throw std::runtime_error("OpenPort failed");

  readItem_.DataType = kDataTypeFloat;
  if (driver_->ParseItem(spec.readAddress, &readItem_) != 1)
    throw std::runtime_error(spec.readAddress);
  writeItem_ = readItem_;
  if (spec.writeAddress != nullptr) {
    writeItem_ = IoItem{};
    writeItem_.DataType = kDataTypeDiscrete;
    if (driver_->ParseItem(spec.writeAddress, &writeItem_) != 1)
      throw std::runtime_error(spec.writeAddress);
  }
}

FamilyRig::~FamilyRig() {
  driver_->ClosePort(0);
  driver_->Release();
}

PollResult FamilyRig::Poll(Operation operation) {
  return PollItem(operation, operation == Operation::kRead ? readItem_ : writeItem_);
}

PollResult FamilyRig::PollItem(Operation operation, IoItem item) {
  bus_.log().Clear();
  const size_t writesBefore = serial_.line(1).writes().size();
  const int64_t start = serial_.clock().NowMs();
  PollResult poll{};
  poll.value.DiscreteValue = kUntouchedBits;
  poll.value.AnalogValue = kUntouchedAnalog;
  if (operation == Operation::kRead) {
    poll.result = driver_->ReadItem(0, &item, &poll.value);
  } else {
    poll.value.DiscreteValue = 1;
    poll.result = driver_->WriteItem(0, &item, &poll.value);
  }
  poll.code = CodeOf(driver_->GetErrorText());
  poll.exchanges = bus_.log().CountFor(kRigModule);
  poll.writes = serial_.line(1).writes().size() - writesBefore;
  poll.elapsedMs = serial_.clock().NowMs() - start;
  return poll;
}

}  // namespace tarvo::test
