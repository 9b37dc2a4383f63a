#include "support/family_rig.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "driver/error_text.h"
#include "tools/common/driver_library.h"

namespace tarvo::test {
namespace {

DriverError CodeOf(const char* text) {
  for (int32_t code = 0; code < kErrorCount; ++code)
    if (std::strcmp(text, ErrorText(code)) == 0) return static_cast<DriverError>(code);
  throw std::logic_error(std::string("no code has the text ") + text);
}

}  // namespace

IIoDriver* CreateDriver(const CLSID& clsid) {
  return tools::CreateDriver(&DllGetClassObject, clsid);
}

FamilyRig::FamilyRig(const FamilySpec& spec, bool openPort)
    : owned_(std::make_unique<FakeSerial>(kRigStartMs)),
      serial_(*owned_),
      portNumber_(1),
      port_(1, kRigTimeout) {
  spec.populate(bus_);
  module_ = bus_.Find(kRigModule);
  Start(spec, openPort);
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

FamilyRig::FamilyRig(FakeSerial& serial, int32_t port, const FamilySpec& spec, const char* timeout)
    : serial_(serial), portNumber_(port), port_(port, timeout) {
  Start(spec, true);
}

void FamilyRig::Start(const FamilySpec& spec, bool openPort) {
  line().SetPeer(bus_.Peer());
  driver_ = CreateDriver(*spec.clsid);
  if (driver_ == nullptr) throw std::runtime_error(std::string("cannot create ") + spec.name);
  if (openPort && OpenPort() != 1)
    throw std::runtime_error(std::string("OpenPort: ") + driver_->GetErrorText());
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
  const size_t writesBefore = line().writes().size();
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
  poll.writes = line().writes().size() - writesBefore;
  poll.elapsedMs = serial_.clock().NowMs() - start;
  return poll;
}

}  // namespace tarvo::test
