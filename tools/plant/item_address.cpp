#include "tools/plant/item_address.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>

namespace tarvo::tools {
namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The dotted fields after the two register letters: "1.0.0.5" -> 1, 0, 0, 5.
std::vector<std::string_view> Fields(std::string_view text) {
  std::vector<std::string_view> fields;
  std::string_view rest = text.size() > 2 ? text.substr(2) : std::string_view();
  while (true) {
    const size_t dot = rest.find('.');
    fields.push_back(rest.substr(0, dot));
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
  }
  return fields;
}

size_t DigitRun(std::string_view field) {
  size_t n = 0;
  while (n < field.size() && std::isdigit(static_cast<unsigned char>(field[n]))) ++n;
  return n;
}

int NumberOf(const IoItem& item, size_t part) {
  switch (part) {
    case 0:
      return item.ModuleAddress;
    case 1:
      return item.Channel;
    case 2:
      return item.Point;
    default:
      return item.SubIndex;
  }
}

// Why a field does not read as `value`, the number the driver took from it.
std::string FieldDifference(std::string_view field, std::string_view part, int value, bool module) {
  const size_t digits = DigitRun(field);
  if (field.empty()) return fmt::format("the {} is empty: the driver reads {}", part, value);
  if (digits == 0)
    return fmt::format("the {} \"{}\" is not a number: the driver reads {}", part, field, value);
  const std::string_view number = field.substr(0, digits);
  if (digits < field.size())
    return fmt::format("the \"{}\" after {} {} is ignored by the driver", field.substr(digits),
                       part, number);
  if (module && number.size() > std::to_string(value).size() && number[0] != '0')
    return fmt::format("only the first digits of module {} count: the driver reads {}", number,
                       value);
  return fmt::format("{} {} is read as {}", part, number, value);
}

}  // namespace

AddressRules::AddressRules(const DriverClass& c, std::vector<std::string> registerNames)
    : class_(c), registerNames_(std::move(registerNames)) {}

std::vector<AddressRules::Part> AddressRules::PartsOf(std::string_view registerName) const {
  const std::string name = Upper(registerName);
  if (std::find(registerNames_.begin(), registerNames_.end(), name) == registerNames_.end())
    return {};
  const AddressForm* form = class_.FormOf(name);
  if (form == nullptr) return {};
  return {form->parts, form->parts + form->partCount};
}

std::string AddressRules::NameOf(const IoItem& item) const {
  const int index = item.RegisterIndex - class_.firstRegisterIndex;
  if (index < 0 || static_cast<size_t>(index) >= registerNames_.size()) return "??";
  return registerNames_[static_cast<size_t>(index)];
}

std::string AddressRules::Canonical(const IoItem& item) const {
  const std::string name = NameOf(item);
  std::string text = name;
  const std::vector<Part> parts = PartsOf(name);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(NumberOf(item, i));
  }
  return text;
}

std::optional<std::string> AddressRules::Check(std::string_view text, const IoItem& item) const {
  const std::vector<Part> parts = PartsOf(NameOf(item));
  const std::string canonical = Canonical(item);
  if (Upper(text.substr(0, 2)) != canonical.substr(0, 2) || text.substr(2) != canonical.substr(2)) {
    std::string why = fmt::format("read as {}", canonical);
    const std::vector<std::string_view> fields = Fields(text);
    for (size_t i = 0; i < parts.size() && i < fields.size(); ++i) {
      if (fields[i] != std::to_string(NumberOf(item, i)))
        why += fmt::format("; {}",
                           FieldDifference(fields[i], parts[i].name, NumberOf(item, i), i == 0));
    }
    if (fields.size() > parts.size()) {
      std::string extra;
      for (size_t i = parts.size(); i < fields.size(); ++i) {
        extra += '.';
        extra += fields[i];
      }
      why += fmt::format("; the \"{}\" is ignored by the driver", extra);
    }
    return why;
  }
  for (size_t i = 0; i < parts.size(); ++i) {
    const int value = NumberOf(item, i);
    if (value < parts[i].first || value > parts[i].last)
      return fmt::format(
          "{} {} is outside {}..{}: the driver accepts the address, no read can use it",
          parts[i].name, value, parts[i].first, parts[i].last);
  }
  return std::nullopt;
}

std::string AddressRules::ExplainRefusal(std::string_view text) const {
  const std::string name = Upper(text.substr(0, 2));
  const std::vector<Part> parts = PartsOf(name);
  if (parts.empty()) {
    std::string list;
    for (const std::string& known : registerNames_) {
      if (!list.empty()) list += ", ";
      list += known;
    }
    return fmt::format("\"{}\" is not a register of {} ({})", text.substr(0, 2), class_.family,
                       list);
  }
  std::string form = name + " ";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) form += ".";
    form += Upper(parts[i].name);
  }
  const std::vector<std::string_view> fields = Fields(text);
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i >= fields.size())
      return fmt::format("the {} is missing: {} items read {}", parts[i].name, name, form);
    const size_t digits = DigitRun(fields[i]);
    if (digits == 0) {
      if (i == 0) return fmt::format("no module number follows {}", name);
      continue;  // the driver reads 0 here; not what it refused
    }
    const int value = std::stoi(std::string(fields[i].substr(0, std::min<size_t>(digits, 6))));
    if (value < parts[i].first || value > parts[i].last)
      return fmt::format("{} {} is outside {}..{}", parts[i].name, value, parts[i].first,
                         parts[i].last);
  }
  return {};
}

}  // namespace tarvo::tools
