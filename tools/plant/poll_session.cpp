#include "tools/plant/poll_session.h"

#include <cctype>
#include <cstring>
#include <iterator>

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

bool PollSession::AddReads(std::vector<ItemSpec>&& specs, const Refused& refused) {
  const size_t first = readSpecs_.size();
  if (first == 0) {
    readSpecs_ = std::move(specs);
  } else {
    readSpecs_.insert(readSpecs_.end(), std::make_move_iterator(specs.begin()),
                      std::make_move_iterator(specs.end()));
  }
  reads_.reserve(readSpecs_.size());
  // The refused are left out where they stand, the others kept in order.
  size_t kept = first;
  std::string problem;
  for (size_t i = first; i < readSpecs_.size(); ++i) {
    Item item;
    if (!Parse(readSpecs_[i].address, &item, &problem)) {
      refused(readSpecs_[i], problem);
      continue;
    }
    if (kept != i) readSpecs_[kept] = std::move(readSpecs_[i]);
    ++kept;
    reads_.push_back(item);
  }
  const bool all = kept == readSpecs_.size();
  readSpecs_.resize(kept);
  return all;
}

bool PollSession::AddRead(const std::string& address, std::string* error) {
  return AddReads({ItemSpec{address, "", "", "", {}}},
                  [&](const ItemSpec&, const std::string& problem) { *error = problem; });
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
  writes_.push_back(item);
  writeSpecs_.push_back(ItemSpec{address, "", "", "", {}});
  return true;
}

ItemReading PollSession::Reading(const Item& item, const ItemSpec& spec) const {
  ItemReading reading;
  reading.className = className_;
  reading.item = spec.address;
  reading.name = spec.name;
  reading.unit = spec.unit;
  reading.discrete = item.discrete;
  return reading;
}

ItemReading PollSession::Describe(bool write, size_t index) const {
  ItemReading reading = write ? Reading(writes_[index], writeSpecs_[index])
                              : Reading(reads_[index], readSpecs_[index]);
  reading.write = write;
  reading.discrete = reading.discrete || write;
  return reading;
}

ItemReading PollSession::WriteOne(size_t index) {
  return Write(writes_[index], writeSpecs_[index], writes_[index].value);
}

ItemReading PollSession::WriteValue(size_t index, uint32_t value) {
  return Write(reads_[index], readSpecs_[index], value);
}

ItemReading PollSession::Write(Item& item, const ItemSpec& spec, uint32_t written) {
  ItemReading reading = Reading(item, spec);
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
  ItemReading reading = Reading(item, readSpecs_[index]);
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
