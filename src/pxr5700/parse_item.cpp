// Item addresses: two register letters, the module address, and the channel
// behind the first ".".
#include <cstring>

#include "driver/parse_channel_point.h"
#include "pxr5700/pxr5700.h"
#include "pxr5700/registers.h"

namespace tarvo {
namespace {
constexpr int kMaxModuleDigits = 4;
constexpr int32_t kLastModule = pxr5700::kModules - 1;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

int32_t Cpxr5700::ParseItem(const char* address, IoItem* item) {
  item->Channel = 0;
  item->ModuleAddress = 0;

  const int16_t found = FindRegister(address);
  if (found == 0) return Fail(ErrRegisterUnsupported);
  const auto reg = static_cast<int16_t>(found - 1);
  item->RegisterIndex = reg;
  const int16_t wanted = pxr5700::IsBitRegister(reg) ? kDataTypeDiscrete : kDataTypeFloat;
  if (item->DataType != wanted) return Fail(ErrDataType);

  // The register matched, so both letters are there.
  const char* digits = address + 2;
  int32_t module = 0;
  int count = 0;
  while (count < kMaxModuleDigits && IsDigit(digits[count])) {
    module = module * 10 + (digits[count] - '0');
    ++count;
  }
  if (count == 0) return Fail(ErrDigitsExpected);
  if (module > kLastModule) return Fail(ErrRegisterUnsupported);

  const char* point = std::strchr(address, '.');
  if (point == nullptr) return Fail(ErrDigitsExpected);
  // Any run of digits is read, as its low 16 bits; none reads as channel 0.
  const auto channel = static_cast<int16_t>(ParseDigitRun(point + 1));
  if (!pxr5700::ChannelInRange(reg, channel)) return Fail(ErrChannelNumber);

  item->Channel = channel;
  item->ModuleAddress = module;
  return Succeed();
}

}  // namespace tarvo
