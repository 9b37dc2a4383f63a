// What a plant says of one serial line: its port and settings, and the
// items of each driver class on it. tarvo-poll builds one from its command
// line and plant file, tarvo-gateway one per line of its plant file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::tools {

// Where a plant file gives an item, for messages. The file and what
// follows the position are shared by the items of a class group; the text
// is made only when a message needs it.
struct ItemPlace {
  struct Source {
    std::string file;     // "plant.yaml"
    std::string context;  // after the position: " (line boiler, pxr5700)" in a gateway plant
  };
  std::shared_ptr<const Source> source;  // null: not from a file
  size_t line = 0;
  size_t column = 0;

  // "plant.yaml:12:18 (line boiler, pxr5700)"; "" when not from a file.
  std::string Text() const {
    if (!source) return "";
    return source->file + ":" + std::to_string(line) + ":" + std::to_string(column) +
           source->context;
  }
};

// An item to read, with what people call it (both may be empty).
struct ItemSpec {
  std::string address;
  std::string name;
  std::string unit;
  std::string topic;  // tarvo-gateway: where it is published; empty: the address
  ItemPlace where;    // empty from a command line
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
