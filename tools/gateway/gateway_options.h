// What the user asked tarvo-gateway to do: the plant file, and the
// settings of the command line that stand over the file's.
#pragma once

#include <optional>
#include <string>

#include "tools/gateway/gateway_plant.h"

namespace tarvo::tools {

struct GatewayOptions {
  std::string plant;         // the plant file
  bool once = false;         // poll every item once and print the messages
  bool plantWrites = false;  // with once: make the plant file's writes too
  bool verbose = false;      // log every value published
  std::string library;       // path of the library; empty: the default
  // Over the plant file's "mqtt" and "http".
  std::optional<std::string> broker;  // HOST or HOST:PORT
  std::optional<std::string> prefix;
  std::optional<std::string> clientId;
  std::optional<int> qos;
  std::optional<std::string> username;
  std::optional<std::string> passwordFile;
  std::optional<std::string> tlsCa;
  std::optional<std::string> tlsCert;
  std::optional<std::string> tlsKey;
  bool tlsInsecure = false;
  std::optional<std::string> http;  // ADDRESS:PORT
  bool noHttp = false;
  std::optional<std::string> modbus;  // ADDRESS:PORT: serve Modbus TCP there
  bool modbusMap = false;             // print the Modbus register map and exit
};

// Parses the command line. Returns nothing when the program should go on,
// or the exit status when it should stop: 0 after --help or --version, 2
// after a usage error (the message is printed to stderr).
std::optional<int> ParseGatewayCommandLine(int argc, const char* const* argv,
                                           GatewayOptions* options);

// The command line's settings laid over the plant file's. False, with
// *error, when one cannot be used (a password file that cannot be read).
bool ApplyOptions(const GatewayOptions& o, GatewayPlant* plant, std::string* error);

}  // namespace tarvo::tools
