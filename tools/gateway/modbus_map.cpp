#include "tools/gateway/modbus_map.h"

#include <fmt/format.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <set>

#include "tools/gateway/gateway_plant.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {
namespace {

using plant::PlantNode;

constexpr int kFirstItemRegister = 1;  // 0 is the line's state
constexpr int kLastRegister = 65535;

ModbusKind KindOf(const std::string& address) {
  std::string name;
  for (char c : address) {
    if (std::isalpha(static_cast<unsigned char>(c)) == 0) break;
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (name == "DI") return ModbusKind::kDiscreteInput;
  if (name == "DO") return ModbusKind::kCoil;
  return ModbusKind::kAnalogue;
}

// The line poller's number of each item, by class group and item: the
// items of the groups of one class follow each other, the classes in the
// order they first appear.
std::vector<std::vector<size_t>> PollerNumbers(const std::vector<ClassGroup>& groups) {
  std::vector<const DriverClass*> classes;
  for (const ClassGroup& group : groups) {
    const DriverClass* c = FindDriverClass(group.className);
    if (std::find(classes.begin(), classes.end(), c) == classes.end()) classes.push_back(c);
  }
  std::vector<std::vector<size_t>> numbers(groups.size());
  size_t next = 0;
  for (const DriverClass* c : classes)
    for (size_t g = 0; g < groups.size(); ++g)
      if (FindDriverClass(groups[g].className) == c)
        for (size_t i = 0; i < groups[g].items.size(); ++i) numbers[g].push_back(next++);
  return numbers;
}

// The unit identifier of each line: from "units", else the lowest not taken.
std::vector<uint8_t> UnitIds(const std::optional<PlantNode>& units, const PlantNode& lineNodes,
                             const std::vector<GatewayLine>& lines) {
  std::vector<std::optional<uint8_t>> given(lines.size());
  std::set<int> taken;
  if (units) {
    std::vector<std::string_view> keys;  // the lines' names
    for (const GatewayLine& line : lines) keys.push_back(line.name);
    keys.push_back("comment");
    if (!units->IsObject()) units->Fail("expected an object {LINE: UNIT_ID, ...}");
    units->CheckKeys(keys);
    for (size_t l = 0; l < lines.size(); ++l) {
      const std::optional<PlantNode> id = units->Find(lines[l].name);
      if (!id) continue;
      given[l] = static_cast<uint8_t>(id->Integer(1, 247));
      if (!taken.insert(*given[l]).second)
        id->Fail(fmt::format("the unit identifier {} is another line's", *given[l]));
    }
  }
  std::vector<uint8_t> ids;
  int next = 1;
  for (const std::optional<uint8_t>& id : given) {
    if (id) {
      ids.push_back(*id);
      continue;
    }
    while (taken.count(next) != 0) ++next;
    if (next > 247) lineNodes.Fail("more lines than Modbus unit identifiers (1 to 247)");
    taken.insert(next);
    ids.push_back(static_cast<uint8_t>(next));
  }
  return ids;
}

// The items of one line: their "modbus" registers checked, then the
// others given free blocks from 1 up, in plant-file order.
// Without a "modbus" section a line with more items than registers is no
// mistake: the items past the last register stay out of the map and
// *unmapped says so, for --modbus and --modbus-map to refuse.
ModbusUnit ReadUnit(const PlantNode& lineNode, const GatewayLine& line, uint8_t id, bool enabled,
                    bool keep, std::string* unmapped) {
  ModbusUnit unit{line.name, id, {}};
  const std::vector<ClassGroup>& groups = line.options.groups;
  const std::vector<std::vector<size_t>> numbers = PollerNumbers(groups);
  const std::vector<PlantNode> groupNodes = lineNode.At("classes").Elements();
  std::map<int, std::string> blocks;  // first register: the item there
  std::vector<size_t> automatic;      // in unit.items
  auto overlapping = [&](int first) {
    auto after = blocks.lower_bound(first);
    if (after != blocks.end() && after->first < first + kItemRegisters) return after;
    if (after != blocks.begin() && std::prev(after)->first + kItemRegisters > first)
      return std::prev(after);
    return blocks.end();
  };
  for (size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].items.empty()) continue;
    const PlantNode itemNodes = groupNodes[g].At("items");
    for (size_t i = 0; i < groups[g].items.size(); ++i) {
      const ItemSpec& spec = groups[g].items[i];
      if (keep)
        unit.items.push_back(
            {numbers[g][i], 0, KindOf(spec.address), spec.address, spec.name, spec.unit});
      // One node at a time: a line's items are thousands.
      const std::optional<PlantNode> modbus = itemNodes.Element(i).Find("modbus");
      if (!modbus) {
        if (keep) automatic.push_back(unit.items.size() - 1);
        continue;
      }
      const int first =
          static_cast<int>(modbus->Integer(kFirstItemRegister, kLastRegister - kItemRegisters + 1));
      if (const auto other = overlapping(first); other != blocks.end())
        modbus->Fail(fmt::format("registers {} to {} overlap {}'s, {} to {}", first,
                                 first + kItemRegisters - 1, other->second, other->first,
                                 other->first + kItemRegisters - 1));
      blocks[first] = spec.address;
      if (keep) unit.items.back().address = static_cast<uint16_t>(first);
    }
  }
  if (!keep) return unit;
  int next = kFirstItemRegister;
  std::vector<bool> left(unit.items.size());
  for (size_t a : automatic) {
    for (auto other = overlapping(next); other != blocks.end(); other = overlapping(next))
      next = other->first + kItemRegisters;
    if (next > kLastRegister - kItemRegisters + 1) {
      if (enabled) lineNode.At("classes").Fail("more items than registers");
      if (unmapped->empty())
        *unmapped = fmt::format("line {} has more items than Modbus registers", line.name);
      left[a] = true;
      continue;
    }
    blocks[next] = unit.items[a].item;
    unit.items[a].address = static_cast<uint16_t>(next);
    next += kItemRegisters;
  }
  size_t kept = 0;
  for (size_t i = 0; i < unit.items.size(); ++i) {
    if (left[i]) continue;
    if (kept != i) unit.items[kept] = std::move(unit.items[i]);
    ++kept;
  }
  unit.items.resize(kept);
  return unit;
}

// A CSV field: quoted when it holds a comma, a quote or a line break.
std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

ModbusSettings ReadModbusSettings(const std::optional<PlantNode>& modbus, const PlantNode& lines,
                                  const std::vector<GatewayLine>& plantLines, bool mapWanted) {
  ModbusSettings settings;
  std::optional<PlantNode> units;
  if (modbus && modbus->IsBoolean()) {
    settings.enabled = modbus->Boolean();
  } else if (modbus) {
    settings.enabled = true;
    modbus->CheckKeys({"address", "port", "word_order", "units", "comment"});
    if (auto address = modbus->Find("address")) settings.address = address->String();
    if (auto port = modbus->Find("port")) settings.port = static_cast<int>(port->Integer(0, 65535));
    if (auto order = modbus->Find("word_order")) {
      const std::string text = order->String();
      if (text == "ABCD")
        settings.wordOrder = WordOrder::kABCD;
      else if (text == "CDAB")
        settings.wordOrder = WordOrder::kCDAB;
      else
        order->Fail("expected ABCD (the high word first) or CDAB");
    }
    units = modbus->Find("units");
  }
  const std::vector<uint8_t> ids = UnitIds(units, lines, plantLines);
  const std::vector<PlantNode> lineNodes = lines.Elements();
  for (size_t l = 0; l < plantLines.size(); ++l)
    settings.units.push_back(ReadUnit(lineNodes[l], plantLines[l], ids[l], settings.enabled,
                                      settings.enabled || mapWanted, &settings.unmapped));
  return settings;
}

std::string ModbusMapCsv(const ModbusSettings& settings) {
  std::string csv = "line,unit_id,item,name,unit,function,address,type,word_order\n";
  const char* order = WordOrderName(settings.wordOrder);
  for (const ModbusUnit& unit : settings.units) {
    const std::string line = Field(unit.line);
    csv += fmt::format("{},{},,,,4,0,line_state,\n", line, unit.id);
    for (const ModbusItem& item : unit.items) {
      const std::string who = fmt::format("{},{},{},{},{}", line, unit.id, Field(item.item),
                                          Field(item.name), Field(item.unit));
      csv += fmt::format("{},4,{},float32,{}\n", who, item.address, order);
      csv += fmt::format("{},4,{},status,\n", who, item.address + 2);
      csv += fmt::format("{},4,{},age_seconds,\n", who, item.address + 3);
      if (item.kind == ModbusKind::kDiscreteInput)
        csv += fmt::format("{},2,{},bit,\n", who, item.address);
      if (item.kind == ModbusKind::kCoil) csv += fmt::format("{},1,{},bit,\n", who, item.address);
    }
  }
  return csv;
}

void PutFloat(float value, WordOrder order, uint16_t* words) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const auto high = static_cast<uint16_t>(bits >> 16);
  const auto low = static_cast<uint16_t>(bits & 0xFFFF);
  words[0] = order == WordOrder::kABCD ? high : low;
  words[1] = order == WordOrder::kABCD ? low : high;
}

const char* WordOrderName(WordOrder order) { return order == WordOrder::kABCD ? "ABCD" : "CDAB"; }

}  // namespace tarvo::tools
