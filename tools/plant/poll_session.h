// The items of one driver object in a tarvo-poll run: parsed once, then
// written and read through IIoDriver, each result with the driver's error
// text in UTF-8.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tarvo/io_driver.h"
#include "tools/plant/item_address.h"
#include "tools/plant/line_config.h"
#include "tools/plant/readings.h"

namespace tarvo::tools {

class PollSession {
 public:
  // The driver must outlive the session; its port is the caller's. With
  // rules, every address the driver accepts must also pass them, and a
  // refusal is explained in terms of the address.
  explicit PollSession(IIoDriver* driver, std::string className = "",
                       const AddressRules* rules = nullptr);

  // Parses items to read, in order, and keeps them, taking the specs
  // themselves (a full line's are megabytes). An item's data type is the
  // one its register declares (the register named by the first two
  // letters). Each item the driver or the rules refuse is handed to
  // `refused` with a message for the user, and left out; false if any was.
  using Refused = std::function<void(const ItemSpec& item, const std::string& problem)>;
  bool AddReads(std::vector<ItemSpec>&& specs, const Refused& refused);
  bool AddRead(const std::string& address, std::string* error);
  // Parses "ITEM=VALUE" for a write; VALUE is 0, 1, on, off, true or false.
  // Refuses a register the driver does not declare writable.
  bool AddWrite(const std::string& assignment, std::string* error);
  // The value of a write: 0, 1, on, off, true or false in any case.
  static std::optional<uint32_t> SwitchValue(std::string text);
  // Whether the register an address names is one the driver declares writable.
  bool Writable(const std::string& address) const;
  // Writes or reads one item; the reading carries the time the call ended.
  ItemReading WriteOne(size_t index);
  ItemReading ReadOne(size_t index);
  // Writes `value` to the item read as read item `index` (a writable one).
  ItemReading WriteValue(size_t index, uint32_t value);
  // An item's names, without a value or a time.
  ItemReading Describe(bool write, size_t index) const;
  // Every write item once, every read item once, in order.
  std::vector<ItemReading> Write();
  std::vector<ItemReading> Read();

  size_t reads() const { return reads_.size(); }
  size_t writes() const { return writes_.size(); }
  // The item as ParseItem filled it.
  const IoItem& readRecord(size_t index) const { return reads_[index].record; }
  const ItemSpec& readSpec(size_t index) const { return readSpecs_[index]; }
  const IoItem& writeRecord(size_t index) const { return writes_[index].record; }

 private:
  struct Item {
    IoItem record{};
    bool discrete = false;
    uint32_t value = 0;  // to write
  };

  // The register named by the address's first two letters, or null.
  const RegisterDesc* RegisterOf(const std::string& address) const;
  bool Parse(const std::string& address, Item* item, std::string* error);
  // The driver's error text (GBK) in UTF-8, explained; resets the code.
  ExplainedError TakeError();
  ItemReading Reading(const Item& item, const ItemSpec& spec) const;
  ItemReading Write(Item& item, const ItemSpec& spec, uint32_t value);

  IIoDriver* driver_;
  std::string className_;
  const AddressRules* rules_;
  RegisterDesc* table_ = nullptr;
  int16_t count_ = 0;
  std::vector<Item> reads_;
  std::vector<ItemSpec> readSpecs_;  // as reads_
  std::vector<Item> writes_;
  std::vector<ItemSpec> writeSpecs_;  // as writes_
};

}  // namespace tarvo::tools
