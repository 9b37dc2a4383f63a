// The items of one tarvo-poll run on one driver object: parsed once, then
// written and read on every poll through IIoDriver, each result with the
// driver's error text in UTF-8.
#pragma once

#include <string>
#include <vector>

#include "tarvo/io_driver.h"
#include "tools/poll/readings.h"

namespace tarvo::tools {

class PollSession {
 public:
  // The driver must outlive the session; its port is the caller's.
  explicit PollSession(IIoDriver* driver);

  // Parses an item to read. The item's data type is the one its register
  // declares (the register named by the first two letters). False, with a
  // message for the user in *error, when the driver refuses the address.
  bool AddRead(const std::string& address, std::string* error);
  // Parses "ITEM=VALUE" for a write; VALUE is 0, 1, on, off, true or false.
  // Refuses a register the driver does not declare writable.
  bool AddWrite(const std::string& assignment, std::string* error);

  // Writes every write item once; one reading per write.
  std::vector<ItemReading> Write();
  // Reads every read item once; one reading per item, in order.
  std::vector<ItemReading> Read();

  size_t reads() const { return reads_.size(); }

 private:
  struct Item {
    std::string address;
    IoItem record{};
    bool discrete = false;
    uint32_t value = 0;  // to write
  };

  // The register named by the address's first two letters, or null.
  const RegisterDesc* RegisterOf(const std::string& address) const;
  bool Parse(const std::string& address, Item* item, std::string* error);
  // The driver's error text (GBK) in UTF-8, explained; resets the code.
  ExplainedError TakeError();

  IIoDriver* driver_;
  RegisterDesc* table_ = nullptr;
  int16_t count_ = 0;
  std::vector<Item> reads_;
  std::vector<Item> writes_;
};

}  // namespace tarvo::tools
