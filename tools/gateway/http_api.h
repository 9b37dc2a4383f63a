// tarvo-gateway's JSON API for its page and for scripts:
//   GET  /api/plant   the plant and the state of every line, module and item;
//   GET  /api/events  live events (server-sent): "hello" {"seq"} first, then
//                     "item", "line", "broker" and "write" as they happen;
//   POST /api/write   {"item": "LINE/ITEM", "value": 0|1|true|false|"on"|"off",
//                     "id": optional text}, made by the item's line as an
//                     MQTT set is, answered with its outcome within 5 s
//                     (200), or "pending" (202) and the outcome as an event.
// Writes are off unless the plant turns them on. With a token or users
// given, a write needs one of them (over the network it must have one);
// it must be sent as JSON and, when the browser names its origin, from a
// page of this gateway: a page elsewhere cannot write through a visitor's
// browser.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "tools/gateway/gateway_plant.h"
#include "tools/gateway/plant_status.h"
#include "tools/gateway/write_payload.h"

namespace httplib {
class Server;
}

namespace tarvo::tools {

// Hands a write to the line of the item "LINE/ITEM" as a message of its
// set topic; false when no line has the item.
using ApiWrite =
    std::function<bool(const std::string& item, std::string_view payload, const WriteReply& reply)>;

// Why the endpoint must not serve as set: writes open to the network with
// no token or user; nothing when it may.
std::optional<std::string> WriteSafetyProblem(const HttpSettings& settings);

void AddApiRoutes(httplib::Server& server, const PlantStatus& status, const HttpSettings& settings,
                  const ApiWrite& write);

}  // namespace tarvo::tools
