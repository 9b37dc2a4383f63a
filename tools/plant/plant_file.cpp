#include "tools/plant/plant_file.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/plant/plant_document.h"

namespace tarvo::tools {

using plant::PlantNode;

ClassGroup ReadClassGroup(const PlantNode& node, bool topics) {
  node.CheckKeys({"class", "items", "writes", "comment"});
  ClassGroup group;
  group.className = node.At("class").String();
  if (auto items = node.Find("items")) {
    for (const PlantNode& item : items->Elements()) {
      if (topics)
        item.CheckKeys({"item", "name", "unit", "topic", "modbus", "comment"});
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

std::string ReadPlantText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw std::runtime_error("cannot read the plant file " + path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::vector<ClassGroup> ReadPollPlant(std::string_view text, std::string_view source) {
  std::vector<ClassGroup> groups;
  plant::ReadPlantDocument(text, source, [&](const PlantNode& top) {
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

std::string LeaveWritesUnmade(std::vector<ClassGroup>* groups) {
  std::string writes;
  for (ClassGroup& group : *groups) {
    for (const std::string& write : group.writes) writes += (writes.empty() ? "" : ", ") + write;
    group.writes.clear();
  }
  if (writes.empty()) return "";
  return "the plant file's writes were not made (" + writes + "); --plant-writes makes them";
}

}  // namespace tarvo::tools
