#include "tools/gateway/gateway_plant.h"

#include <fmt/format.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>

#include "tools/plant/driver_classes.h"
#include "tools/plant/line_options.h"
#include "tools/plant/plant_document.h"
#include "tools/plant/plant_file.h"
#include "tools/plant/wire_time.h"

namespace tarvo::tools {
namespace {

using plant::PlantNode;

void ReadMqtt(const PlantNode& node, MqttSettings* mqtt) {
  node.CheckKeys({"host", "port", "prefix", "client_id", "qos", "keepalive", "username", "password",
                  "tls", "comment"});
  if (auto host = node.Find("host")) mqtt->host = host->String();
  if (auto port = node.Find("port")) mqtt->port = static_cast<int>(port->Integer(1, 65535));
  if (auto prefix = node.Find("prefix")) {
    mqtt->prefix = prefix->String();
    if (std::optional<std::string> problem = TopicProblem(mqtt->prefix)) prefix->Fail(*problem);
  }
  if (auto id = node.Find("client_id")) mqtt->clientId = id->String();
  if (auto qos = node.Find("qos")) mqtt->qos = static_cast<int>(qos->Integer(0, 2));
  if (auto keepalive = node.Find("keepalive"))
    mqtt->keepaliveSeconds = static_cast<int>(keepalive->Integer(5, 3600));
  if (auto user = node.Find("username")) mqtt->username = user->String();
  if (auto password = node.Find("password")) mqtt->password = password->String();
  if (auto tls = node.Find("tls")) {
    tls->CheckKeys({"ca_file", "cert_file", "key_file", "insecure", "comment"});
    mqtt->caFile = tls->At("ca_file").String();
    if (auto cert = tls->Find("cert_file")) mqtt->certFile = cert->String();
    if (auto key = tls->Find("key_file")) mqtt->keyFile = key->String();
    if (mqtt->certFile.empty() != mqtt->keyFile.empty())
      tls->Fail("\"cert_file\" and \"key_file\" go together");
    if (auto insecure = tls->Find("insecure")) mqtt->tlsInsecure = insecure->Boolean();
  }
}

void ReadHttp(const PlantNode& node, HttpSettings* http) {
  if (node.IsBoolean()) {
    http->enabled = node.Boolean();
    return;
  }
  node.CheckKeys({"address", "port", "writes", "token_file", "users_file", "tls", "comment"});
  if (auto address = node.Find("address")) http->address = address->String();
  if (auto port = node.Find("port")) http->port = static_cast<int>(port->Integer(0, 65535));
  if (auto writes = node.Find("writes")) http->writes = writes->Boolean();
  // Read as the MQTT password file: the first line.
  if (auto file = node.Find("token_file")) {
    const std::string path = file->String();
    std::ifstream in(path);
    if (!in || !std::getline(in, http->token) || http->token.empty())
      file->Fail(fmt::format("cannot read a token from the first line of {}", path));
  }
  if (auto file = node.Find("users_file")) {
    const std::string path = file->String();
    std::ifstream in(path);
    if (!in) file->Fail(fmt::format("cannot read {}", path));
    int number = 0;
    for (std::string line; std::getline(in, line);) {
      ++number;
      if (line.empty()) continue;
      const size_t colon = line.find(':');
      if (colon == 0 || colon == std::string::npos || colon + 1 == line.size())
        file->Fail(fmt::format("{} line {}: expected NAME:PASSWORD", path, number));
      http->users.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
    if (http->users.empty()) file->Fail(fmt::format("{} names no user", path));
  }
  if (auto tls = node.Find("tls")) {
    tls->CheckKeys({"certificate", "key", "comment"});
    http->certificate = tls->At("certificate").String();
    http->key = tls->At("key").String();
  }
}

void ReadDiscovery(const PlantNode& node, DiscoverySettings* discovery) {
  if (node.IsBoolean()) {
    discovery->enabled = node.Boolean();
    return;
  }
  node.CheckKeys({"prefix", "node_id", "comment"});
  if (auto prefix = node.Find("prefix")) {
    discovery->prefix = prefix->String();
    if (std::optional<std::string> problem = TopicProblem(discovery->prefix))
      prefix->Fail(*problem);
  }
  if (auto id = node.Find("node_id")) {
    discovery->nodeId = id->String();
    if (discovery->nodeId.empty() ||
        discovery->nodeId.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                            "0123456789_-") != std::string::npos)
      id->Fail("a node id is letters, digits, _ and - only");
  }
}

// "publish", "deadband" and "max_interval" of a line or an item over
// `policy` (the line's, for an item).
PublishPolicy ReadPolicy(const PlantNode& node, PublishPolicy policy) {
  if (auto publish = node.Find("publish")) {
    const std::string how = publish->String();
    if (how != "every_read" && how != "on_change")
      publish->Fail("expected \"every_read\" or \"on_change\"");
    policy.onChange = how == "on_change";
  }
  for (const char* key : {"deadband", "max_interval"})
    if (auto given = node.Find(key); given && !policy.onChange)
      given->Fail("this goes with \"publish\": \"on_change\"");
  if (auto deadband = node.Find("deadband")) policy.deadband = deadband->Number(0, 1e9);
  if (auto interval = node.Find("max_interval"))
    policy.maxInterval = std::chrono::duration<double>(interval->Number(0, 86400));
  return policy;
}

// A topic per item, unique on its line: the item's own or its address;
// its publishing policy where it gives one. An item once on its line: its
// metrics are told apart by line, class and address.
void CheckTopics(const PlantNode& classes, const std::vector<ClassGroup>& groups,
                 GatewayLine* line) {
  std::set<std::string> topics;
  std::set<std::pair<std::string_view, std::string>> seen;  // family, address
  const std::vector<PlantNode> nodes = classes.Elements();
  for (size_t g = 0; g < groups.size(); ++g) {
    if (groups[g].items.empty()) continue;
    const PlantNode list = nodes[g].At("items");
    for (size_t i = 0; i < groups[g].items.size(); ++i) {
      const ItemSpec& item = groups[g].items[i];
      const std::string topic = item.topic.empty() ? item.address : item.topic;
      const PlantNode node = list.Element(i);  // one at a time: a line's are thousands
      const PlantNode at = item.topic.empty() ? node.At("item") : node.At("topic");
      if (std::optional<std::string> problem = TopicProblem(topic)) at.Fail(*problem);
      if (topic.size() >= 4 && (topic.ends_with("/set") || topic.ends_with("/result")))
        at.Fail("a topic may not end in /set or /result: those carry the writes");
      if (topic == "status") at.Fail("the topic \"status\" is the line's own status");
      if (!topics.insert(topic).second)
        at.Fail("the topic \"" + topic + "\" is another item's on this line");
      if (!seen.insert({FindDriverClass(groups[g].className)->family, item.address}).second)
        node.At("item").Fail("the item is on this line already");
      if (node.Find("publish") || node.Find("deadband") || node.Find("max_interval"))
        line->items[topic] = ReadPolicy(node, line->publish);
    }
  }
}

GatewayLine ReadLine(const PlantNode& node, std::string_view source) {
  node.CheckKeys({"line", "port", "baud", "parity", "data_bits", "stop_bits", "timeout_ms", "early",
                  "interval", "publish", "deadband", "max_interval", "classes", "comment"});
  GatewayLine line;
  const PlantNode name = node.At("line");
  line.name = name.String();
  if (line.name.find('/') != std::string::npos) name.Fail("a line's name is one topic level: no /");
  if (std::optional<std::string> problem = TopicProblem(line.name)) name.Fail(*problem);
  LineConfig& o = line.options;
  const PlantNode port = node.At("port");
  o.port = port.String();
  std::string problem;
  if (!ParsePort(o.port, &problem)) port.Fail(problem);
  if (auto baud = node.Find("baud")) {
    o.baud = static_cast<int32_t>(baud->Integer(1, 1000000));
    if (!BaudCode(o.baud))
      baud->Fail("the library cannot set this rate; it sets " + BaudRateList());
  }
  if (auto parity = node.Find("parity")) {
    o.parity = parity->String();
    if (!ParityCode(o.parity)) parity->Fail("expected none, even, odd, mark or space");
  }
  if (auto bits = node.Find("data_bits")) {
    o.dataBits = static_cast<int>(bits->Integer(7, 8));
  }
  if (auto bits = node.Find("stop_bits")) o.stopBits = static_cast<int>(bits->Integer(1, 2));
  if (auto timeout = node.Find("timeout_ms"))
    o.timeoutMs = static_cast<int>(timeout->Integer(kMinTimeoutMs, kMaxTimeoutMs));
  if (auto early = node.Find("early")) o.early = early->Boolean();
  if (auto interval = node.Find("interval")) o.intervalSeconds = interval->Number(0, 3600);
  const PlantNode classes = node.At("classes");
  for (const PlantNode& group : classes.Elements()) {
    o.groups.push_back(ReadClassGroup(group, true, source));
    const DriverClass* c = FindDriverClass(o.groups.back().className);
    if (c == nullptr)
      group.At("class").Fail("not a class tarvo-gateway knows (see tarvo-poll --list)");
    SetPlaceContext(&o.groups.back(), fmt::format(" (line {}, {})", line.name, c->family));
  }
  if (o.groups.empty()) classes.Fail("a line needs a class to poll");
  line.publish = ReadPolicy(node, PublishPolicy{});
  CheckTopics(classes, o.groups, &line);
  return line;
}

}  // namespace

std::string DeviceOf(const std::string& port) {
  std::string unused;
  const std::optional<PortChoice> choice = ParsePort(port, &unused);
  if (!choice) return port;
  return choice->device.empty() ? fmt::format("/dev/ttyS{}", choice->portNumber - 1)
                                : choice->device;
}

std::optional<std::string> TopicProblem(std::string_view topic) {
  if (topic.empty()) return "a topic level cannot be empty";
  if (topic.find_first_of("+#") != std::string_view::npos)
    return "a topic cannot hold the wildcards + or #";
  if (topic.front() == '/' || topic.back() == '/' || topic.find("//") != std::string_view::npos)
    return "a topic cannot have an empty level (a / at either end or two together)";
  return std::nullopt;
}

GatewayPlant ReadGatewayPlant(std::string_view text, std::string_view source, bool modbusMap) {
  GatewayPlant plant;
  plant::ReadPlantDocument(text, source, [&](const PlantNode& top) {
    top.CheckKeys({"mqtt", "http", "discovery", "modbus", "lines", "comment"});
    if (auto mqtt = top.Find("mqtt")) ReadMqtt(*mqtt, &plant.mqtt);
    if (auto http = top.Find("http")) ReadHttp(*http, &plant.http);
    if (auto discovery = top.Find("discovery")) ReadDiscovery(*discovery, &plant.discovery);
    const PlantNode lines = top.At("lines");
    std::vector<PlantNode> nodes = lines.Elements();
    for (const PlantNode& node : nodes) {
      GatewayLine line = ReadLine(node, source);
      for (const GatewayLine& other : plant.lines) {
        if (other.name == line.name)
          node.At("line").Fail("the line \"" + line.name + "\" is named twice");
        if (DeviceOf(other.options.port) == DeviceOf(line.options.port))
          node.At("port").Fail("the port is line \"" + other.name + "\"'s too");
      }
      plant.lines.push_back(std::move(line));
    }
    if (plant.lines.empty()) lines.Fail("no lines to poll");
    plant.modbus = ReadModbusSettings(top.Find("modbus"), lines, plant.lines, modbusMap);
  });
  return plant;
}

GatewayPlant ReadGatewayPlantFile(const std::string& path, bool modbusMap) {
  return ReadGatewayPlant(ReadPlantText(path), path, modbusMap);
}

}  // namespace tarvo::tools
