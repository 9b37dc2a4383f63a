#include "tools/poll/register_list.h"

#include <fmt/format.h>

#include <cstring>

namespace tarvo::tools {
namespace {

std::string AccessText(int32_t access) {
  if (access == kAccessRead) return "read";
  if (access == kAccessReadWrite) return "read/write";
  return fmt::format("access {}", access);
}

std::string TypeText(int32_t type) {
  if (type == kDataTypeFloat) return "float";
  if (type == kDataTypeDiscrete) return "discrete";
  return fmt::format("type {}", type);
}

}  // namespace

std::string FormatRegisterList(const DriverClass& c, const RegisterDesc* table, int16_t count) {
  std::string text = fmt::format("{} ({}), {} registers\n", c.className, c.progId, count);
  text += fmt::format("  {:>5}  {:<4}  {:<10}  {}\n", "INDEX", "NAME", "ACCESS", "TYPE");
  for (int16_t i = 0; i < count; ++i) {
    const RegisterDesc& r = table[i];
    const std::string name(r.Name, strnlen(r.Name, sizeof r.Name));
    text += fmt::format("  {:>5}  {:<4}  {:<10}  {}\n", c.firstRegisterIndex + i, name,
                        AccessText(r.Access), TypeText(r.DataType1));
  }
  text += "Item addresses:\n";
  size_t start = 0;
  while (start < c.addressSyntax.size()) {
    size_t end = c.addressSyntax.find('\n', start);
    if (end == std::string_view::npos) end = c.addressSyntax.size();
    text += "  " + std::string(c.addressSyntax.substr(start, end - start)) + "\n";
    start = end + 1;
  }
  return text;
}

}  // namespace tarvo::tools
