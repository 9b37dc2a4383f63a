#include "tools/gateway/event_hub.h"

#include <fmt/format.h>

namespace tarvo::tools {

std::shared_ptr<EventHub::Reader> EventHub::Join(uint64_t* seq) {
  const std::lock_guard lock(mutex_);
  if (closed_ || open_.size() >= kMostReaders) return nullptr;
  open_.push_back(std::make_shared<Reader>());
  readers_ = open_.size();
  *seq = seq_;
  return open_.back();
}

void EventHub::Leave(const std::shared_ptr<Reader>& reader) {
  const std::lock_guard lock(mutex_);
  std::erase(open_, reader);
  readers_ = open_.size();
}

void EventHub::Publish(std::string_view event, std::string_view data) {
  const std::lock_guard lock(mutex_);
  if (open_.empty()) return;
  // Data holds no line break: the JSON texts are written on one line.
  const std::string text = fmt::format("id: {}\nevent: {}\ndata: {}\n\n", ++seq_, event, data);
  for (auto reader = open_.begin(); reader != open_.end();) {
    Reader& r = **reader;
    if (r.waiting.size() + text.size() > kMostWaiting) {
      r.dropped = true;
      r.waiting.clear();
      r.ready.notify_one();
      reader = open_.erase(reader);
      continue;
    }
    r.waiting += text;
    r.ready.notify_one();
    ++reader;
  }
  readers_ = open_.size();
}

std::optional<std::string> EventHub::Next(Reader& reader, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  reader.ready.wait_for(lock, wait,
                        [&] { return closed_ || reader.dropped || !reader.waiting.empty(); });
  if (closed_ || reader.dropped) return std::nullopt;
  std::string events;
  events.swap(reader.waiting);
  return events;
}

void EventHub::Close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  for (const auto& reader : open_) reader->ready.notify_one();
  open_.clear();
  readers_ = 0;
}

}  // namespace tarvo::tools
