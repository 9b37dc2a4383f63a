#include <fmt/format.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "tools/gateway/gateway_options.h"

#ifndef TARVO_VERSION
#define TARVO_VERSION "unknown"
#endif

namespace tarvo::tools {
namespace {

constexpr const char* kDescription =
    "tarvo-gateway: publishes the items of a plant's pxr modules to an MQTT broker\n"
    "and as Prometheus metrics, and writes outputs asked for over MQTT. Each serial\n"
    "line of the plant file is polled on a thread of its own through the Tarvo\n"
    "driver library, loaded as a host loads it.\n\n"
    "  tarvo-gateway [options] PLANT.yaml\n\n"
    "Topics (PREFIX is \"tarvo\" unless set):\n"
    "  PREFIX/gateway/ID/status    online / offline (retained; the last will);\n"
    "                              ID is the MQTT client id\n"
    "  PREFIX/LINE/ITEM            the item's value as JSON (retained)\n"
    "  PREFIX/LINE/ITEM/set        0, 1, on or off: writes an output (DO items);\n"
    "                              a retained message is ignored, not replayed\n"
    "  PREFIX/LINE/ITEM/result     the outcome of that write\n"
    "HTTP: /metrics (Prometheus), /health (200 or 503, with a JSON status).\n"
    "Modbus TCP (with a \"modbus\" section or --modbus): a unit per line, see\n"
    "--modbus-map.\n\n"
    "SIGHUP reads the plant file again: changed lines restart, the others poll on;\n"
    "on a mistake the running plant stays.\n\n"
    "Exit status: 0 after SIGTERM or Ctrl-C; with --once, 0 when every item was\n"
    "read and 1 when one failed; 2 when the plant file, the library or a setting\n"
    "cannot be used.\n";

// "HOST", "HOST:PORT" or "[V6ADDRESS]:PORT" into its parts.
bool SplitHostPort(const std::string& text, std::string* host, std::optional<int>* port) {
  std::string portText;
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string::npos) return false;
    *host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      portText = text.substr(close + 2);
    }
  } else if (const size_t colon = text.find(':');
             colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
    *host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } else {
    *host = text;  // no port, or an IPv6 address without one
  }
  if (host->empty()) return false;
  if (portText.empty()) return text.back() != ':';
  int number = 0;
  const char* last = portText.data() + portText.size();
  const auto [end, status] = std::from_chars(portText.data(), last, number);
  if (status != std::errc() || end != last || number < 0 || number > 65535) return false;
  *port = number;
  return true;
}

// "tarvo-gateway-HOST-PLANT": two gateways on one broker, on two hosts or
// with two plant files, do not take each other's connection. Only letters,
// digits, '.', '_' and '-', so it can stand as a topic level too.
std::string DefaultClientId(const std::string& plantPath) {
  char host[256] = {};
  if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string id =
      fmt::format("tarvo-gateway-{}-{}", host, std::filesystem::path(plantPath).stem().string());
  for (char& c : id)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
  return id;
}

}  // namespace

std::optional<int> ParseGatewayCommandLine(int argc, const char* const* argv,
                                           GatewayOptions* options) {
  GatewayOptions& o = *options;
  CLI::App app(kDescription, "tarvo-gateway");
  app.get_formatter()->column_width(30);
  app.add_option("PLANT", o.plant, "the plant file (YAML or JSON): lines, classes, items")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_flag("--once", o.once,
               "poll every item once, print the messages that would be published\n"
               "(JSON) and exit: a check of the plant file and the wiring; it\n"
               "switches no output unless --plant-writes");
  app.add_flag("--plant-writes", o.plantWrites,
               "with --once: make the plant file's writes too, each printed and\n"
               "logged (the daemon makes them when it starts)");
  app.add_flag("-v,--verbose", o.verbose, "log every value read and every write");
  app.add_option("--broker", o.broker, "the MQTT broker, HOST or HOST:PORT (port 1883)");
  app.add_option("--prefix", o.prefix, "the first topic level (default tarvo)");
  app.add_option("--client-id", o.clientId,
                 "the MQTT client id, one per gateway (default\n"
                 "tarvo-gateway-HOST-PLANT: the host's and the plant file's name)");
  app.add_option("--qos", o.qos, "the MQTT quality of service, 0, 1 or 2 (default 1)")
      ->check(CLI::Range(0, 2));
  app.add_option("--username", o.username, "the MQTT user name");
  app.add_option("--password-file", o.passwordFile, "a file whose first line is the MQTT password")
      ->check(CLI::ExistingFile);
  app.add_option("--tls-ca", o.tlsCa, "TLS to the broker, trusting this CA file");
  app.add_option("--tls-cert", o.tlsCert, "TLS client certificate (with --tls-key)");
  app.add_option("--tls-key", o.tlsKey, "TLS client key (with --tls-cert)");
  app.add_flag("--tls-insecure", o.tlsInsecure, "do not check the broker's host name");
  app.add_option("--http", o.http,
                 "serve /metrics and /health on ADDRESS:PORT (default\n"
                 "127.0.0.1:10464; port 0: any free port)");
  app.add_flag("--no-http", o.noHttp, "serve no HTTP");
  app.add_option("--modbus", o.modbus,
                 "serve Modbus TCP on ADDRESS:PORT (the plant file's \"modbus\"\n"
                 "section otherwise; port 0: any free port)");
  app.add_flag("--modbus-map", o.modbusMap,
               "print the Modbus register map (CSV: line, unit_id, item, name,\n"
               "unit, function, address, type, word_order) and exit");
  app.add_option("--library", o.library,
                 "the library to load (default: $TARVO_LIBRARY, else libtarvo.so.1\n"
                 "beside this program, installed or built with it)");
  app.set_version_flag("--version", std::string("tarvo-gateway ") + TARVO_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end with 0; every mistake with 2.
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  std::string host;
  std::optional<int> port;
  std::string problem;
  if (o.broker && !SplitHostPort(*o.broker, &host, &port))
    problem = fmt::format("--broker \"{}\": expected HOST or HOST:PORT", *o.broker);
  if (o.http && (!SplitHostPort(*o.http, &host, &port) || !port))
    problem = fmt::format("--http \"{}\": expected ADDRESS:PORT", *o.http);
  if (o.tlsCert.has_value() != o.tlsKey.has_value())
    problem = "--tls-cert and --tls-key go together";
  if (o.http && o.noHttp) problem = "--http and --no-http exclude each other";
  if (o.modbus && (!SplitHostPort(*o.modbus, &host, &port) || !port))
    problem = fmt::format("--modbus \"{}\": expected ADDRESS:PORT", *o.modbus);
  if (!problem.empty()) {
    std::cerr << "tarvo-gateway: " << problem << "\n";
    return 2;
  }
  return std::nullopt;
}

bool ApplyOptions(const GatewayOptions& o, GatewayPlant* plant, std::string* error) {
  MqttSettings& mqtt = plant->mqtt;
  if (o.broker) {
    std::optional<int> port;
    SplitHostPort(*o.broker, &mqtt.host, &port);
    if (port) mqtt.port = *port;
  }
  if (o.prefix) {
    if (std::optional<std::string> problem = TopicProblem(*o.prefix)) {
      *error = fmt::format("--prefix \"{}\": {}", *o.prefix, *problem);
      return false;
    }
    mqtt.prefix = *o.prefix;
  }
  if (o.clientId) mqtt.clientId = *o.clientId;
  if (mqtt.clientId.empty()) mqtt.clientId = DefaultClientId(o.plant);
  if (o.qos) mqtt.qos = *o.qos;
  if (o.username) mqtt.username = *o.username;
  if (o.passwordFile) {
    std::ifstream file(*o.passwordFile);
    if (!file || !std::getline(file, mqtt.password)) {
      *error = "cannot read the password file " + *o.passwordFile;
      return false;
    }
  }
  if (o.tlsCa) mqtt.caFile = *o.tlsCa;
  if (o.tlsCert) mqtt.certFile = *o.tlsCert;
  if (o.tlsKey) mqtt.keyFile = *o.tlsKey;
  if (o.tlsInsecure) mqtt.tlsInsecure = true;
  if ((!mqtt.certFile.empty() || mqtt.tlsInsecure) && mqtt.caFile.empty()) {
    *error = "a TLS client certificate or --tls-insecure needs a CA file (--tls-ca)";
    return false;
  }
  if (o.http) {
    std::optional<int> port;
    SplitHostPort(*o.http, &plant->http.address, &port);
    plant->http.port = *port;
    plant->http.enabled = true;
  }
  if (o.noHttp) plant->http.enabled = false;
  if ((o.modbus || o.modbusMap) && !plant->modbus.unmapped.empty()) {
    *error = (o.modbus ? "--modbus: " : "--modbus-map: ") + plant->modbus.unmapped;
    return false;
  }
  if (o.modbus) {
    std::optional<int> port;
    SplitHostPort(*o.modbus, &plant->modbus.address, &port);
    plant->modbus.port = *port;
    plant->modbus.enabled = true;
  }
  return true;
}

}  // namespace tarvo::tools
