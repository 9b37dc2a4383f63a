// What a plant says of one serial line: its port and settings, and the
// items of each driver class on it. tarvo-poll builds one from its command
// line and plant file, tarvo-gateway one per line of its plant file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::tools {

// An item to read, with what people call it (both may be empty).
struct ItemSpec {
  std::string address;
  std::string name;
  std::string unit;
  std::string topic;  // tarvo-gateway: where it is published; empty: the address
  // Where a plant file gives it, for messages: "plant.yaml:12:18" and, in
  // a gateway plant, " (line boiler, pxr5700)"; empty from a command line.
  std::string where;
  // The same item, wherever the file gives it.
  bool operator==(const ItemSpec& o) const {
    return address == o.address && name == o.name && unit == o.unit && topic == o.topic;
  }
};

// The items of one driver class: one driver object reads them.
struct ClassGroup {
  std::string className;            // family, class name or ProgID as given
  std::vector<ItemSpec> items;      // item addresses to read
  std::vector<std::string> writes;  // "ITEM=VALUE", written before the first poll
  bool operator==(const ClassGroup&) const = default;
};

struct LineConfig {
  // From the command line ("CLASS ITEM... -- CLASS ITEM...") and the plant
  // file, in that order.
  std::vector<ClassGroup> groups;
  std::string port;  // as given: "COM3", "3" or a device path; empty when not given
  int32_t baud = 9600;
  std::string parity = "none";
  int dataBits = 8;
  int stopBits = 1;
  std::optional<int> timeoutMs;           // the transfer time-out; unset: what fits the wire
  bool early = true;                      // early replies (",early" in the time-out text)
  std::optional<double> intervalSeconds;  // pause between polls; unset: the classes' default
  bool operator==(const LineConfig&) const = default;
};

}  // namespace tarvo::tools
