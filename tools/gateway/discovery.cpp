#include "tools/gateway/discovery.h"

#include <fmt/format.h>

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

std::string Discovery::ObjectId(const std::string& text) {
  std::string id = Level(text);
  for (int n = 2; objectIds_.contains(id); ++n) id = fmt::format("{}_{}", Level(text), n);
  objectIds_.insert(id);
  return id;
}

void Discovery::AddConfig(const std::string& component, const std::string& objectId,
                          const Json& config) {
  const std::string topic =
      fmt::format("{}/{}/{}/{}/config", settings_.prefix, component, nodeId_, objectId);
  topics_.insert(topic);
  configs_.push_back({topic, JsonText(config), true});
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
  const std::string below = id.topic.substr(prefix_.size() + id.line.size() + 2);
  const std::string objectId = ObjectId(id.line + "_" + below);
  Json config{{"name", id.name.empty() ? id.item : id.name},
              {"unique_id", nodeId_ + "_" + objectId},
              {"state_topic", id.topic},
              {"value_template", "{{ value_json.value }}"}};
  config["availability"] =
      Json::array({{{"topic", gatewayStatus_}},
                   {{"topic", LineStatusTopic(prefix_, id.line)}},
                   {{"topic", id.topic},
                    {"value_template", "{{ 'online' if value_json.ok else 'offline' }}"}}});
  config["availability_mode"] = "all";
  config["json_attributes_topic"] = id.topic;
  config["json_attributes_template"] =
      "{{ {'code': value_json.code, 'error': value_json.error, 'time': value_json.time} | tojson "
      "}}";
  config["device"] = {
      {"identifiers",
       Json::array({fmt::format("{}_{}_{}_{}", nodeId_, Level(id.line), id.family, id.module)})},
      {"name", fmt::format("{} {} {}", id.line, id.family, id.module)},
      {"model", id.family},
      {"via_device", nodeId_}};
  std::string component = "sensor";
  if (discrete && writable) {
    component = "switch";
    config["command_topic"] = id.topic + "/set";
    config["payload_on"] = "1";
    config["payload_off"] = "0";
    config["state_on"] = "1";
    config["state_off"] = "0";
  } else if (discrete) {
    component = "binary_sensor";
    config["payload_on"] = "1";
    config["payload_off"] = "0";
  } else {
    if (!id.unit.empty()) config["unit_of_measurement"] = id.unit;
    if (const char* deviceClass = DeviceClass(id.unit)) config["device_class"] = deviceClass;
    config["state_class"] = "measurement";
  }
  AddConfig(component, objectId, config);
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
  if (!payload.empty() && !topics_.contains(topic)) heard.clear.push_back({topic, "", true});
  return heard;
}

}  // namespace tarvo::tools
