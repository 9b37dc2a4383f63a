// The tools' address rules of every class on any text and any item the
// driver could have parsed it as: a refusal is explained, a check says
// yes or why not, never anything else. Byte 0 picks the class, bytes 1..8
// the parsed item, the rest is the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "tools/plant/driver_classes.h"
#include "tools/plant/item_address.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvo;
  using namespace tarvo::tools;
  if (size < 9) return 0;
  const auto classes = DriverClasses();
  const DriverClass& c = classes[data[0] % classes.size()];
  const AddressRules rules(c, {"TA", "TB", "WA", "WB", "UA", "UB", "WM", "DI", "DO", "HB", "KT",
                               "LT", "AD", "WI"});
  IoItem item{};
  int16_t fields[4];
  std::memcpy(fields, data + 1, sizeof fields);
  item.RegisterIndex = fields[0];
  item.ModuleAddress = fields[1];
  item.Channel = fields[2];
  item.Point = fields[3] >> 4;
  item.SubIndex = static_cast<int16_t>(fields[3] & 0xF);
  const std::string_view text(reinterpret_cast<const char*>(data + 9), size - 9);
  (void)rules.ExplainRefusal(text);
  (void)rules.Canonical(item);
  if (const auto why = rules.Check(text, item); why && why->empty()) __builtin_trap();
  return 0;
}
