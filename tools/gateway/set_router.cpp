#include "tools/gateway/set_router.h"

#include <fmt/format.h>

#include <algorithm>

#include "tools/common/utf8_text.h"
#include "tools/gateway/gateway_log.h"

namespace tarvo::tools {
namespace {

// Topics naming no item are logged once each, up to this many; past it,
// anyone could grow the memory by inventing topics, so they are logged
// rate-limited instead.
constexpr size_t kRememberedTopics = 1000;
constexpr size_t kQuotedTopic = 120;

}  // namespace

std::vector<std::string> SetSubscriptions(const std::string& prefix,
                                          const std::vector<std::string>& setTopics) {
  // PREFIX/LINE/ITEM/set is the shortest a set topic can be.
  std::set<size_t> levels{2};
  for (const std::string& topic : setTopics)
    levels.insert(static_cast<size_t>(std::count(
        topic.begin() + static_cast<std::ptrdiff_t>(prefix.size()) + 1, topic.end(), '/')));
  std::vector<std::string> filters;
  for (const size_t n : levels) {
    std::string filter = prefix;
    for (size_t i = 0; i < n; ++i) filter += "/+";
    filters.push_back(filter + "/set");
  }
  return filters;
}

void SetRouter::Handle(const std::string& topic, std::string_view payload, bool retained,
                       const WriteReply& reply) {
  // Empty: a retained message cleared (a client already subscribed gets
  // it too, not retained). Not a value, and nothing to answer.
  if (payload.empty()) return;
  if (retained) {
    LogLimited("MQTT: retained", fmt::format("MQTT: {}: a retained message is not a write and "
                                             "is ignored; clear it with an empty retained one",
                                             QuoteBytes(topic, kQuotedTopic)));
    return;
  }
  for (const auto& worker : workers_)  // none while a reload replaces it
    if (worker && worker->HandleSet(topic, payload, reply)) return;
  const std::string message =
      fmt::format("MQTT: {}: no item of the plant has this set topic; ignored",
                  QuoteBytes(topic, kQuotedTopic));
  {
    const std::lock_guard lock(mutex_);
    if (unknown_.contains(topic)) return;
    if (unknown_.size() < kRememberedTopics) {
      unknown_.insert(topic);
      Log(message);
      return;
    }
  }
  LogLimited("MQTT: unknown set topic", message);
}

}  // namespace tarvo::tools
