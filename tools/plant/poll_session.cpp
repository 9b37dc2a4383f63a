#include "tools/plant/poll_session.h"

#include <cctype>
#include <cstring>

#include "tools/common/gbk.h"

namespace tarvo::tools {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// A failure the driver reported only through its result keeps the text
// "OK"; it must still read as a failure.
ExplainedError Outcome(int32_t result, ExplainedError text) {
  if (result == 1 || !text.ok()) return text;
  return {"(none)", {}, "the driver failed without an error code"};
}

}  // namespace

PollSession::PollSession(IIoDriver* driver, std::string className, const AddressRules* rules)
    : driver_(driver), className_(std::move(className)), rules_(rules) {
  driver_->GetRegisterTable(&table_, &count_);
}

const RegisterDesc* PollSession::RegisterOf(const std::string& address) const {
  const std::string name = Lower(address.substr(0, 2));
  for (int16_t i = 0; i < count_ && table_ != nullptr; ++i) {
    const std::string registerName(table_[i].Name, strnlen(table_[i].Name, sizeof table_[i].Name));
    if (Lower(registerName) == name) return &table_[i];
  }
  return nullptr;
}

ExplainedError PollSession::TakeError() {
  const char* text = driver_->GetErrorText();
  return ExplainError(GbkToUtf8(text != nullptr ? text : ""));
}

bool PollSession::Parse(const std::string& address, Item* item, std::string* error) {
  const RegisterDesc* reg = RegisterOf(address);
  // An unknown name is the driver's to refuse, with its own code.
  item->discrete = reg != nullptr && reg->DataType1 == kDataTypeDiscrete;
  item->record.DataType = item->discrete ? kDataTypeDiscrete : kDataTypeFloat;
  const int32_t parsed = driver_->ParseItem(address.c_str(), &item->record);
  const ExplainedError explained = Outcome(parsed, TakeError());
  if (parsed != 1 || !explained.ok()) {
    const std::string why = rules_ != nullptr ? rules_->ExplainRefusal(address) : "";
    *error = address + ": " + (why.empty() ? "" : why + "; the driver refuses it with ") +
             explained.Display();
    return false;
  }
  if (rules_ == nullptr) return true;
  if (const std::optional<std::string> problem = rules_->Check(address, item->record)) {
    *error = address + ": " + *problem;
    return false;
  }
  return true;
}

bool PollSession::AddRead(ItemSpec&& spec, std::string* error) {
  Item item;
  if (!Parse(spec.address, &item, error)) return false;
  item.spec = std::move(spec);
  reads_.push_back(std::move(item));
  return true;
}

void PollSession::Reserve(size_t reads, size_t writes) {
  reads_.reserve(reads);
  writes_.reserve(writes);
}

std::optional<uint32_t> PollSession::SwitchValue(std::string text) {
  text = Lower(std::move(text));
  if (text == "1" || text == "on" || text == "true") return 1;
  if (text == "0" || text == "off" || text == "false") return 0;
  return std::nullopt;
}

bool PollSession::Writable(const std::string& address) const {
  const RegisterDesc* reg = RegisterOf(address);
  return reg != nullptr && reg->Access == kAccessReadWrite;
}

bool PollSession::AddWrite(const std::string& assignment, std::string* error) {
  const size_t equals = assignment.find('=');
  const std::string address = assignment.substr(0, equals);
  Item item;
  if (const std::optional<uint32_t> value = SwitchValue(assignment.substr(equals + 1))) {
    item.value = *value;
  } else {
    *error = assignment + ": the value must be 0, 1, on, off, true or false";
    return false;
  }
  const RegisterDesc* reg = RegisterOf(address);
  if (reg != nullptr && reg->Access != kAccessReadWrite) {
    *error = assignment + ": register " + address.substr(0, 2) + " cannot be written (read only)";
    return false;
  }
  if (!Parse(address, &item, error)) return false;
  item.spec.address = address;
  writes_.push_back(std::move(item));
  return true;
}

ItemReading PollSession::Reading(const Item& item) const {
  ItemReading reading;
  reading.className = className_;
  reading.item = item.spec.address;
  reading.name = item.spec.name;
  reading.unit = item.spec.unit;
  reading.discrete = item.discrete;
  return reading;
}

ItemReading PollSession::Describe(bool write, size_t index) const {
  ItemReading reading = Reading(write ? writes_[index] : reads_[index]);
  reading.write = write;
  reading.discrete = reading.discrete || write;
  return reading;
}

ItemReading PollSession::WriteOne(size_t index) {
  return Write(writes_[index], writes_[index].value);
}

ItemReading PollSession::WriteValue(size_t index, uint32_t value) {
  return Write(reads_[index], value);
}

ItemReading PollSession::Write(Item& item, uint32_t written) {
  ItemReading reading = Reading(item);
  IoValue value{};
  value.DiscreteValue = written;
  const int32_t result = driver_->WriteItem(0, &item.record, &value);
  reading.readAt = std::chrono::system_clock::now();
  reading.write = true;
  reading.discrete = true;
  reading.discreteValue = written;
  reading.error = Outcome(result, TakeError());
  // A driver may return 1 and still keep a failure code (a command it
  // could not send): the text decides.
  reading.ok = result == 1 && reading.error.ok();
  reading.hasValue = reading.ok;
  return reading;
}

ItemReading PollSession::ReadOne(size_t index) {
  Item& item = reads_[index];
  ItemReading reading = Reading(item);
  IoValue value{};
  const int32_t result = driver_->ReadItem(0, &item.record, &value);
  reading.error = Outcome(result, TakeError());
  reading.ok = result == 1 && reading.error.ok();
  reading.hasValue = reading.ok;
  // The value is as of the end of the call: a block read may wait first.
  reading.readAt = std::chrono::system_clock::now();
  if (reading.ok) {
    reading.analog = value.AnalogValue;
    reading.discreteValue = value.DiscreteValue;
  }
  return reading;
}

std::vector<ItemReading> PollSession::Write() {
  std::vector<ItemReading> readings;
  for (size_t i = 0; i < writes_.size(); ++i) readings.push_back(WriteOne(i));
  return readings;
}

std::vector<ItemReading> PollSession::Read() {
  std::vector<ItemReading> readings;
  for (size_t i = 0; i < reads_.size(); ++i) readings.push_back(ReadOne(i));
  return readings;
}

}  // namespace tarvo::tools
