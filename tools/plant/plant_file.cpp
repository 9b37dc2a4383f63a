#include "tools/plant/plant_file.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "sim/plant/plant_error.h"
#include "sim/plant/plant_node.h"

namespace tarvo::tools {
namespace {

using sim::PlantNode;

std::string Located(std::string_view source, sim::TextPosition at, const std::string& message) {
  return std::string(source) + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) +
         ": " + message;
}

}  // namespace

ClassGroup ReadClassGroup(const PlantNode& node, bool topics) {
  node.CheckKeys({"class", "items", "writes", "comment"});
  ClassGroup group;
  group.className = node.At("class").String();
  if (auto items = node.Find("items")) {
    for (const PlantNode& item : items->Elements()) {
      if (topics)
        item.CheckKeys({"item", "name", "unit", "topic", "comment"});
      else
        item.CheckKeys({"item", "name", "unit", "comment"});
      ItemSpec spec{item.At("item").String(), "", "", ""};
      if (auto name = item.Find("name")) spec.name = name->String();
      if (auto unit = item.Find("unit")) spec.unit = unit->String();
      if (auto topic = item.Find("topic")) spec.topic = topic->String();
      group.items.push_back(std::move(spec));
    }
  }
  if (auto writes = node.Find("writes")) {
    for (const PlantNode& write : writes->Elements()) {
      const std::string text = write.String();
      const size_t equals = text.find('=');
      if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        write.Fail("expected ITEM=VALUE, e.g. DO5.3=1");
      group.writes.push_back(text);
    }
  }
  if (group.items.empty() && group.writes.empty())
    node.Fail("a class needs \"items\" to read or \"writes\"");
  return group;
}

void ReadPlantJson(std::string_view text, std::string_view source,
                   const std::function<void(const PlantNode&)>& read) {
  nlohmann::ordered_json root;
  try {
    root = nlohmann::ordered_json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    const size_t offset = e.byte > 0 ? e.byte - 1 : 0;
    throw std::runtime_error(
        Located(source, sim::PositionOfOffset(text, offset), "not valid JSON"));
  }
  try {
    read(PlantNode(root, {}));
  } catch (const sim::PlantValueError& e) {
    const sim::TextPosition at = sim::LocateJsonValue(text, e.path()).value_or(sim::TextPosition{});
    throw std::runtime_error(Located(source, at, e.what()));
  }
}

std::string ReadPlantText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read the plant file " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<ClassGroup> ReadPollPlant(std::string_view text, std::string_view source) {
  std::vector<ClassGroup> groups;
  ReadPlantJson(text, source, [&](const PlantNode& top) {
    top.CheckKeys({"classes", "comment"});
    for (const PlantNode& node : top.At("classes").Elements())
      groups.push_back(ReadClassGroup(node, false));
  });
  if (groups.empty()) throw std::runtime_error(std::string(source) + ": no classes to poll");
  return groups;
}

std::vector<ClassGroup> ReadPollPlantFile(const std::string& path) {
  return ReadPollPlant(ReadPlantText(path), path);
}

}  // namespace tarvo::tools
