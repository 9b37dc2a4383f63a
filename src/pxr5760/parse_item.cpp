#include "driver/parse_channel_point.h"
#include "driver/parse_point_address3.h"
#include "pxr5760/pxr5760.h"

namespace tarvo {
namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

int32_t CPxr5760::ParseItem(const char* address, IoItem* item) {
  const int16_t index = FindRegister(address);
  if (index == 0) return Fail(ErrRegisterUnsupported);
  const bool discrete = index == pxr5760::kDi || index == pxr5760::kDo;
  if (item->DataType != (discrete ? kDataTypeDiscrete : kDataTypeFloat)) return Fail(ErrDataType);
  item->RegisterIndex = index;

  // The name matched, so address[0..1] are characters and address[2] exists.
  const char* digits = address + 2;
  if (!IsDigit(*digits)) return Fail(ErrRegisterUnsupported);
  int32_t module = 0;
  for (int count = 0; count < 3 && IsDigit(*digits); ++count, ++digits)
    module = module * 10 + (*digits - '0');
  item->ModuleAddress = module;

  int16_t channel = 0;
  int16_t point = 0;
  const bool plain = index == pxr5760::kTa || index == pxr5760::kHb || index == pxr5760::kKt;
  if (plain) {
    if (!ParseChannelPoint(address, &channel, &point)) return Fail(ErrRegisterName);
  } else {
    int16_t sub = 0;
    if (!ParsePointAddress3(address, &channel, &point, &sub)) return Fail(ErrRegisterName);
    item->SubIndex = sub;
  }
  item->Channel = channel;
  item->Point = point;

  if (module > 127) return Fail(ErrModuleAddress);
  if (channel < 0 || channel > pxr5760::kChannels - 1) return Fail(ErrChannel);
  // Points 32..63 are accepted here; reads and writes refuse them.
  if (point < 0 || point > 63) return Fail(ErrPointNumber);
  return Succeed();
}

}  // namespace tarvo
