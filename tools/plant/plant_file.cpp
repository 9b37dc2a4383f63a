#include "tools/plant/plant_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tools/plant/plant_document.h"
#include "tools/plant/plant_error.h"

namespace tarvo::tools {

using plant::PlantNode;

ClassGroup ReadClassGroup(const PlantNode& node, bool topics, std::string_view source) {
  node.CheckKeys({"class", "items", "writes", "comment"});
  ClassGroup group;
  group.className = node.At("class").String();
  if (auto items = node.Find("items")) {
    const auto file =
        std::make_shared<const ItemPlace::Source>(ItemPlace::Source{std::string(source), ""});
    const size_t count = items->ElementCount();
    group.items.reserve(count);
    for (size_t i = 0; i < count; ++i) {
      const PlantNode item = items->Element(i);
      if (topics)
        item.CheckKeys({"item", "name", "unit", "topic", "publish", "deadband", "max_interval",
                        "modbus", "comment"});
      else
        item.CheckKeys({"item", "name", "unit", "comment"});
      const PlantNode address = item.At("item");
      ItemSpec spec{address.String(), "", "", "", {file, address.at().line, address.at().column}};
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

void SetPlaceContext(ClassGroup* group, std::string context) {
  if (group->items.empty() || !group->items.front().where.source) return;
  const auto source = std::make_shared<const ItemPlace::Source>(
      ItemPlace::Source{group->items.front().where.source->file, std::move(context)});
  for (ItemSpec& item : group->items) item.where.source = source;
}

std::string ReadPlantText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const int error = !file ? errno : std::filesystem::is_directory(path) ? EISDIR : 0;
  if (error != 0)
    throw std::runtime_error("cannot read the plant file " + path + ": " + std::strerror(error));
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

namespace {

std::vector<ClassGroup> ReadClasses(const PlantNode& top, std::string_view source) {
  top.CheckKeys({"classes", "comment"});
  std::vector<ClassGroup> groups;
  for (const PlantNode& node : top.At("classes").Elements())
    groups.push_back(ReadClassGroup(node, false, source));
  if (groups.empty()) throw std::runtime_error(std::string(source) + ": no classes to poll");
  return groups;
}

}  // namespace

std::vector<ClassGroup> ReadPollPlant(std::string_view text, std::string_view source) {
  std::vector<ClassGroup> groups;
  plant::ReadPlantDocument(text, source,
                           [&](const PlantNode& top) { groups = ReadClasses(top, source); });
  return groups;
}

std::optional<std::vector<ClassGroup>> ReadPollPlantUnlessLines(std::string_view text,
                                                                std::string_view source) {
  std::optional<std::vector<ClassGroup>> groups;
  plant::ReadPlantDocument(text, source, [&](const PlantNode& top) {
    if (!top.IsObject() || !top.Has("lines")) groups = ReadClasses(top, source);
  });
  return groups;
}

bool HasPlantLines(std::string_view text, std::string_view source) {
  bool lines = false;
  try {
    plant::ReadPlantDocument(
        text, source, [&](const PlantNode& top) { lines = top.IsObject() && top.Has("lines"); });
  } catch (const plant::PlantError&) {
  }
  return lines;
}

std::vector<ClassGroup> ReadPollPlantFile(const std::string& path) {
  return ReadPollPlant(ReadPlantText(path), path);
}

std::string UnmadeWritesNote(const std::vector<ClassGroup>& groups) {
  std::string writes;
  for (const ClassGroup& group : groups)
    for (const std::string& write : group.writes) writes += (writes.empty() ? "" : ", ") + write;
  if (writes.empty()) return "";
  return "the plant file's writes were not made (" + writes + "); --plant-writes makes them";
}

std::string LeaveWritesUnmade(std::vector<ClassGroup>* groups) {
  std::string note = UnmadeWritesNote(*groups);
  for (ClassGroup& group : *groups) group.writes.clear();
  return note;
}

}  // namespace tarvo::tools
