// What tarvo-gateway serves: the broker it publishes to, where its metrics
// are scraped, and its serial lines, each with its port, its settings and
// the items of its classes. A plant document (YAML or JSON, tools/plant/)
// in the style of tarvo-poll's plant files, here in JSON's form:
//   {"mqtt": {"host": "localhost", "prefix": "plant"},
//    "http": {"address": "0.0.0.0", "port": 10464, "writes": true,
//             "token_file": "/etc/tarvo/token"},
//    "modbus": {"port": 1502, "units": {"boiler": 1}},
//    "lines": [
//      {"line": "boiler", "port": "/dev/ttyUSB0", "baud": 9600,
//       "classes": [
//         {"class": "pxr5100", "items": [
//            {"item": "TA1.0.0", "name": "flow", "unit": "°C", "topic": "flow",
//             "modbus": 1}]},
//         {"class": "pxr5700", "items": [{"item": "DO4.2", "name": "valve"}]}]}]}
// "comment" may stand beside any key. A line or an item may say how its
// values are published ("publish": "every_read" or "on_change", with
// "deadband" and "max_interval"; an item's keys stand over its line's),
// and "discovery" announces the items to Home Assistant (on by default):
//   "discovery": false, or {"prefix": "homeassistant", "node_id": "boiler"}
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/gateway/modbus_map.h"
#include "tools/gateway/publish_policy.h"
#include "tools/plant/line_config.h"

namespace tarvo::tools {

struct MqttSettings {
  std::string host;  // empty: no broker (metrics only)
  int port = 1883;
  std::string prefix = "tarvo";
  std::string clientId;  // empty: tarvo-gateway-HOST-PLANT
  int qos = 1;
  int keepaliveSeconds = 30;
  std::string username;
  std::string password;
  // TLS when caFile is set; a client certificate when certFile is set.
  std::string caFile;
  std::string certFile;
  std::string keyFile;
  bool tlsInsecure = false;  // do not check the broker's host name
  bool operator==(const MqttSettings&) const = default;
};

struct HttpSettings {
  bool enabled = true;
  std::string address = "127.0.0.1";
  int port = 10464;  // 0: any free port (the log names it)
  // Writes over the API ("writes": true); beyond loopback they need the
  // token (the first line of "token_file") or a user of "users_file"
  // (lines NAME:PASSWORD).
  bool writes = false;
  std::string token;
  std::vector<std::pair<std::string, std::string>> users;
  // HTTPS when both are given: "tls": {"certificate": PATH, "key": PATH}.
  std::string certificate;
  std::string key;
  bool operator==(const HttpSettings&) const = default;
};

// Home Assistant's MQTT discovery: a config per item under
// PREFIX/COMPONENT/NODE_ID/OBJECT_ID/config.
struct DiscoverySettings {
  bool enabled = true;
  std::string prefix = "homeassistant";
  std::string nodeId;  // empty: the MQTT client id, made fit for a topic level
};

struct GatewayLine {
  std::string name;       // a topic level and a metrics label
  LineConfig options;     // the port, its settings, the time-out, the interval, the classes
  PublishPolicy publish;  // the line's
  std::map<std::string, PublishPolicy> items;  // by item topic, where an item says its own
  bool operator==(const GatewayLine&) const = default;
};

struct GatewayPlant {
  MqttSettings mqtt;
  HttpSettings http;
  DiscoverySettings discovery;
  std::vector<GatewayLine> lines;
  ModbusSettings modbus;
};

// The plant in a gateway plant file's text. Throws std::runtime_error whose
// text names `source`, the line and the column of what is wrong. Without
// `modbusMap`, a plant that does not turn Modbus on has no map of it.
GatewayPlant ReadGatewayPlant(std::string_view text, std::string_view source,
                              bool modbusMap = true);
GatewayPlant ReadGatewayPlantFile(const std::string& path, bool modbusMap);

// The device a line's port opens: "COM5" and "5" open /dev/ttyS4.
std::string DeviceOf(const std::string& port);

// Whether a text can stand in a topic as given: not empty, no wildcard
// (+ #), no empty level. Nothing when it can, else why not.
std::optional<std::string> TopicProblem(std::string_view topic);

}  // namespace tarvo::tools
