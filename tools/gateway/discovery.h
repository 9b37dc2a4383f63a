// Home Assistant's MQTT discovery: a retained config per item, so that
// each module appears as a device of its own (beside the gateway's, with
// a connectivity entity for the gateway and one per line) and each item
// as an entity of it: an analogue item a sensor, an input a binary
// sensor, a writable output a switch. Each entity is available while the
// gateway is online, its line is open and its own latest read succeeded,
// so a failed item never shows its last value as current.
//
// The configs go out on each connection and again when Home Assistant
// says it is back ("online" on the discovery prefix's status); a config of this node that
// the plant no longer has is cleared with an empty retained message.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/plant_status.h"

namespace tarvo::tools {

// The topic of a line's retained status: "online" while it is open, else "offline".
std::string LineStatusTopic(const std::string& prefix, const std::string& line);

class Discovery {
 public:
  Discovery(const DiscoverySettings& settings, const MqttSettings& mqtt, std::string gatewayStatus);

  // Before the configs are made: a line and each of its items.
  void AddLine(const std::string& line);
  void AddItem(const ItemIdentity& id, bool discrete, bool writable);

  // Home Assistant's status and every config of this node.
  static std::vector<std::string> Subscriptions(const DiscoverySettings& settings,
                                                const MqttSettings& mqtt);
  // Every config of this node, in the order added, each made as it is
  // handed to `take` (an item's is not kept); or only their topics.
  void Configs(const std::function<void(const Message&)>& take) const;
  void Topics(const std::function<void(const std::string&)>& take) const;

  // What a message heard on the subscriptions asks for.
  struct Heard {
    bool mine = false;           // on a discovery topic: not a write
    bool announce = false;       // Home Assistant is back: the configs and the states again
    std::vector<Message> clear;  // a config the plant no longer has
  };
  Heard Hear(const std::string& topic, std::string_view payload) const;

 private:
  // A config: the gateway's and the lines' made once, an item's from what
  // it keeps of the item.
  struct Entry {
    const char* component = "";
    std::string objectId;
    std::unique_ptr<Message> made;
    std::string below;  // the item's topic below its line's
    // The item's name (its address when it has none) and unit, where not
    // its topic below the line and none.
    std::unique_ptr<std::pair<std::string, std::string>> names;
    uint32_t line = 0;    // in names_
    uint32_t family = 0;  // in names_
    int module = 0;
    bool discrete = false;
    bool writable = false;
  };

  // The node id: the one given, else the client id made fit for a topic level.
  static std::string NodeId(const DiscoverySettings& settings, const MqttSettings& mqtt);
  // A topic level unique among this node's configs, from `text`.
  std::string ObjectId(const std::string& text) const;
  std::string ConfigTopic(const Entry& entry) const;
  void AddConfig(const char* component, const std::string& objectId,
                 const nlohmann::ordered_json& config);
  // Enters a new entry's object id (the entry is in entries_ for good).
  void Enter(Entry& entry);
  uint32_t Name(const std::string& text);
  nlohmann::ordered_json ItemConfig(const Entry& entry) const;

  DiscoverySettings settings_;
  std::string prefix_;  // the gateway's
  std::string gatewayStatus_;
  std::string nodeId_;
  std::deque<Entry> entries_;                      // in the order added
  std::map<std::string_view, size_t> byObjectId_;  // in entries_, of their object ids
  std::vector<std::string> names_;                 // lines and families
};

}  // namespace tarvo::tools
