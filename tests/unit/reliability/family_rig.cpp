#include "family_rig.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/error_text.h"
#include "server/server_classes.h"
#include "tarvo/guids.h"

namespace tarvo::test {
namespace {

DriverError CodeOf(const char* text) {
  for (int32_t code = 0; code < kErrorCount; ++code)
    if (std::strcmp(text, ErrorText(code)) == 0) return static_cast<DriverError>(code);
  throw std::logic_error(std::string("no code has the text ") + text);
}

}  // namespace

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
