#include "driver/driver_base.h"

#include <cstring>

#include "driver/error_text.h"

namespace tarvo {

DriverBase::DriverBase(std::span<const RegisterSpec> registers) {
  registers_.reserve(registers.size());
  for (const RegisterSpec& spec : registers) {
    RegisterDesc desc{};
    std::strncpy(desc.Name, spec.name, sizeof desc.Name - 1);
    desc.Access = spec.access;
    desc.DataType1 = spec.dataType;
    desc.DataType2 = spec.dataType;
    registers_.push_back(desc);
  }
}

DriverError OpenError(serial::OpenResult result) {
  switch (result) {
    case serial::OpenResult::kOpened:
      return ErrOk;
    case serial::OpenResult::kNoDevice:
      return ErrCreatePort;
    case serial::OpenResult::kTimeoutsFailed:
      return ErrPortTimeouts;
    case serial::OpenResult::kStateFailed:
      return ErrPortState;
    case serial::OpenResult::kModeRejected:
      return ErrInitPortData;
    case serial::OpenResult::kStateRejected:
      return ErrRegisterLimit;
  }
  return ErrCreatePort;
}

int32_t DriverBase::OpenPort(PortConfig* config) {
  const DriverError code = OpenError(port_.Open(config));
  if (code != ErrOk) return Fail(code);
  return 1;
}

int32_t DriverBase::ClosePort() {
  port_.Close();
  return 1;
}

void DriverBase::GetRegisterTable(RegisterDesc** table, int16_t* count) {
  if (table != nullptr) *table = registers_.data();
  if (count != nullptr) *count = static_cast<int16_t>(registers_.size());
}

const char* DriverBase::GetErrorText() {
  const char* text = ErrorText(error_);
  error_ = ErrOk;
  return text;
}

int16_t DriverBase::FindRegister(const char* name) const {
  // ASCII only: a host's locale must not change which names match.
  const auto upper = [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  };
  for (size_t i = 0; i < registers_.size(); ++i) {
    const char* entry = registers_[i].Name;
    bool same = true;
    for (int pos = 0; pos < 2 && same; ++pos) {
      same = upper(entry[pos]) == upper(name[pos]);
      if (name[pos] == '\0') break;
    }
    if (same) return static_cast<int16_t>(i + 1);
  }
  return 0;
}

}  // namespace tarvo
