// The state and operations every driver class shares: the error code with
// its GetErrorText discipline, the register table, and the serial line.
//
// A family class derives from DriverBase and adds ParseItem, ReadItem and
// WriteItem; ComDriver (com_driver.h) turns it into a COM object.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "serial/port.h"
#include "tarvo/errors.h"
#include "tarvo/records.h"

namespace tarvo {

struct RegisterSpec {
  const char* name;
  int32_t access;    // kAccessRead or kAccessReadWrite
  int32_t dataType;  // kDataTypeFloat or kDataTypeDiscrete
};

// The host's code for the outcome of opening a line.
DriverError OpenError(serial::OpenResult result);

class DriverBase {
 public:
  explicit DriverBase(std::initializer_list<RegisterSpec> registers)
      : DriverBase(std::span<const RegisterSpec>(registers.begin(), registers.size())) {}
  explicit DriverBase(std::span<const RegisterSpec> registers);
  DriverBase(const DriverBase&) = delete;
  DriverBase& operator=(const DriverBase&) = delete;

  // Opens or adopts the line; stores a port error code on failure.
  int32_t OpenPort(PortConfig* config);
  // Closes the object's line if it has one. Always 1; the code is untouched.
  int32_t ClosePort();
  // Either out pointer may be null; the table stays owned by the object.
  void GetRegisterTable(RegisterDesc** table, int16_t* count);
  // Returns the stored code's text and resets the code to ErrOk.
  const char* GetErrorText();

  int32_t ErrorCode() const { return error_; }
  // Stores code and returns 0: the result of every failing operation.
  int32_t Fail(DriverError code) {
    error_ = code;
    return 0;
  }
  // Stores code and returns false: for the inner steps of an operation.
  bool FailStep(DriverError code) {
    error_ = code;
    return false;
  }
  // Stores ErrOk and returns 1: the result of every successful operation.
  int32_t Succeed() {
    error_ = ErrOk;
    return 1;
  }

  // The 1-based index of the register named name (compared without regard to
  // case, first two characters only), or 0 when the table has none.
  int16_t FindRegister(const char* name) const;
  const std::vector<RegisterDesc>& Registers() const { return registers_; }

  serial::Port& Port() { return port_; }

 private:
  int32_t error_ = ErrOk;
  std::vector<RegisterDesc> registers_;
  serial::Port port_;
};

}  // namespace tarvo
