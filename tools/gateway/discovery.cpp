#include "tools/gateway/discovery.h"

#include <fmt/format.h>

#include <algorithm>

#include "tools/common/json_text.h"

namespace tarvo::tools {
namespace {

using Json = nlohmann::ordered_json;

constexpr char kOnline[] = "online";

// Letters, digits, _ and - kept, anything else _.
std::string Level(std::string_view text) {
  std::string level;
  for (const char c : text) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
    level += kept ? c : '_';
  }
  return level;
}

// Home Assistant's device class of a unit, where one fits.
const char* DeviceClass(const std::string& unit) {
  if (unit == "°C") return "temperature";
  if (unit == "%") return "humidity";
  if (unit == "V") return "voltage";
  return nullptr;
}

}  // namespace

std::string LineStatusTopic(const std::string& prefix, const std::string& line) {
  return prefix + "/" + line + "/status";
}

Discovery::Discovery(const DiscoverySettings& settings, const MqttSettings& mqtt,
                     std::string gatewayStatus)
    : settings_(settings),
      prefix_(mqtt.prefix),
      gatewayStatus_(std::move(gatewayStatus)),
      nodeId_(NodeId(settings, mqtt)) {
  const Json config{{"name", "connectivity"},
                    {"unique_id", nodeId_ + "_gateway"},
                    {"state_topic", gatewayStatus_},
                    {"payload_on", kOnline},
                    {"payload_off", "offline"},
                    {"device_class", "connectivity"},
                    {"entity_category", "diagnostic"},
                    {"device",
                     {{"identifiers", Json::array({nodeId_})},
                      {"name", "tarvo-gateway " + nodeId_},
                      {"model", "tarvo-gateway"}}}};
  AddConfig("binary_sensor", ObjectId("gateway"), config);
}

std::string Discovery::ObjectId(const std::string& text) const {
  std::string id = Level(text);
  for (int n = 2; byObjectId_.contains(id); ++n) id = fmt::format("{}_{}", Level(text), n);
  return id;
}

void Discovery::Enter(Entry& entry) { byObjectId_.emplace(entry.objectId, entries_.size() - 1); }

std::string Discovery::ConfigTopic(const Entry& entry) const {
  return fmt::format("{}/{}/{}/{}/config", settings_.prefix, entry.component, nodeId_,
                     entry.objectId);
}

uint32_t Discovery::Name(const std::string& text) {
  const auto known = std::find(names_.begin(), names_.end(), text);
  if (known != names_.end()) return static_cast<uint32_t>(known - names_.begin());
  names_.push_back(text);
  return static_cast<uint32_t>(names_.size() - 1);
}

void Discovery::AddConfig(const char* component, const std::string& objectId, const Json& config) {
  Entry& entry = entries_.emplace_back();
  entry.component = component;
  entry.objectId = objectId;
  entry.made = std::make_unique<Message>(ConfigTopic(entry), JsonText(config), true);
  Enter(entry);
}

void Discovery::AddLine(const std::string& line) {
  const Json config{{"name", "line " + line},
                    {"unique_id", nodeId_ + "_line_" + Level(line)},
                    {"state_topic", LineStatusTopic(prefix_, line)},
                    {"payload_on", kOnline},
                    {"payload_off", "offline"},
                    {"device_class", "connectivity"},
                    {"entity_category", "diagnostic"},
                    {"availability_topic", gatewayStatus_},
                    {"device", {{"identifiers", Json::array({nodeId_})}}}};
  AddConfig("binary_sensor", ObjectId("line_" + line), config);
}

void Discovery::AddItem(const ItemIdentity& id, bool discrete, bool writable) {
  // The item's topic below its line's.
  std::string below = id.topic.substr(prefix_.size() + id.line.size() + 2);
  std::string objectId = ObjectId(id.line + "_" + below);
  Entry& entry = entries_.emplace_back();
  entry.component = discrete && writable ? "switch" : discrete ? "binary_sensor" : "sensor";
  entry.objectId = std::move(objectId);
  const std::string& name = id.name.empty() ? id.item : id.name;
  if (name != below || !id.unit.empty())
    entry.names = std::make_unique<std::pair<std::string, std::string>>(name, id.unit);
  entry.below = std::move(below);
  entry.line = Name(id.line);
  entry.family = Name(id.family);
  entry.module = id.module;
  entry.discrete = discrete;
  entry.writable = writable;
  Enter(entry);
}

Json Discovery::ItemConfig(const Entry& entry) const {
  const std::string& line = names_[entry.line];
  const std::string& family = names_[entry.family];
  const std::string topic = fmt::format("{}/{}/{}", prefix_, line, entry.below);
  static const std::string kNone;
  const std::string& unit = entry.names ? entry.names->second : kNone;
  Json config{{"name", entry.names ? entry.names->first : entry.below},
              {"unique_id", nodeId_ + "_" + entry.objectId},
              {"state_topic", topic},
              {"value_template", "{{ value_json.value }}"}};
  config["availability"] = Json::array(
      {{{"topic", gatewayStatus_}},
       {{"topic", LineStatusTopic(prefix_, line)}},
       {{"topic", topic}, {"value_template", "{{ 'online' if value_json.ok else 'offline' }}"}}});
  config["availability_mode"] = "all";
  config["json_attributes_topic"] = topic;
  config["json_attributes_template"] =
      "{{ {'code': value_json.code, 'error': value_json.error, 'time': value_json.time} | tojson "
      "}}";
  config["device"] = {
      {"identifiers",
       Json::array({fmt::format("{}_{}_{}_{}", nodeId_, Level(line), family, entry.module)})},
      {"name", fmt::format("{} {} {}", line, family, entry.module)},
      {"model", family},
      {"via_device", nodeId_}};
  if (entry.discrete && entry.writable) {
    config["command_topic"] = topic + "/set";
    config["payload_on"] = "1";
    config["payload_off"] = "0";
    config["state_on"] = "1";
    config["state_off"] = "0";
  } else if (entry.discrete) {
    config["payload_on"] = "1";
    config["payload_off"] = "0";
  } else {
    if (!unit.empty()) config["unit_of_measurement"] = unit;
    if (const char* deviceClass = DeviceClass(unit)) config["device_class"] = deviceClass;
    config["state_class"] = "measurement";
  }
  return config;
}

void Discovery::Configs(const std::function<void(const Message&)>& take) const {
  for (const Entry& entry : entries_) {
    if (entry.made)
      take(*entry.made);
    else
      take(Message{ConfigTopic(entry), JsonText(ItemConfig(entry)), true});
  }
}

void Discovery::Topics(const std::function<void(const std::string&)>& take) const {
  for (const Entry& entry : entries_) take(entry.made ? entry.made->topic : ConfigTopic(entry));
}

std::string Discovery::NodeId(const DiscoverySettings& settings, const MqttSettings& mqtt) {
  return settings.nodeId.empty() ? Level(mqtt.clientId) : settings.nodeId;
}

std::vector<std::string> Discovery::Subscriptions(const DiscoverySettings& settings,
                                                  const MqttSettings& mqtt) {
  return {settings.prefix + "/status",
          fmt::format("{}/+/{}/+/config", settings.prefix, NodeId(settings, mqtt))};
}

Discovery::Heard Discovery::Hear(const std::string& topic, std::string_view payload) const {
  Heard heard;
  if (topic == settings_.prefix + "/status") {
    heard.mine = true;
    heard.announce = payload == kOnline;
    return heard;
  }
  // PREFIX/COMPONENT/NODE_ID/OBJECT_ID/config, each a single level.
  const std::string start = settings_.prefix + "/";
  const std::string_view end = "/config";
  if (topic.size() < start.size() + end.size() || !topic.starts_with(start) ||
      !topic.ends_with(end))
    return heard;
  const std::string_view levels =
      std::string_view(topic).substr(start.size(), topic.size() - start.size() - end.size());
  const size_t first = levels.find('/');
  const size_t last = levels.rfind('/');
  if (first == std::string_view::npos || first == last ||
      levels.substr(first + 1, last - first - 1) != nodeId_)
    return heard;
  heard.mine = true;
  const auto known = byObjectId_.find(levels.substr(last + 1));
  const bool ours =
      known != byObjectId_.end() && entries_[known->second].component == levels.substr(0, first);
  if (!payload.empty() && !ours) heard.clear.push_back({topic, "", true});
  return heard;
}

}  // namespace tarvo::tools
