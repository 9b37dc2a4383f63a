// The gateway's live events for the page and scripts (server-sent events,
// /api/events): each item read, each line up or down, the broker's state,
// each write's outcome. A reader has a bounded queue of its own; one that
// falls behind it (a slow or gone client) is dropped, never waited for:
// the line threads that publish never block on a reader. Its stream ends
// and the client connects again, taking the whole plant anew.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo::tools {

class EventHub {
 public:
  // Streams open at once; more are refused.
  static constexpr size_t kMostReaders = 16;
  // Bytes of events a reader may have waiting before it is dropped.
  static constexpr size_t kMostWaiting = 4 * 1024 * 1024;

  struct Reader;

  // A new reader, and the number of the last event before it joined
  // (events are numbered from 1); nothing when kMostReaders are open or
  // the hub is closed.
  std::shared_ptr<Reader> Join(uint64_t* seq);
  void Leave(const std::shared_ptr<Reader>& reader);
  // Whether anyone reads: an event not read need not be made.
  bool listening() const { return readers_.load(std::memory_order_relaxed) > 0; }
  // One event to every reader, framed for the stream ("id", "event", "data").
  void Publish(std::string_view event, std::string_view data);
  // The reader's events waiting, waiting up to `wait` for one: empty after
  // the wait; nothing once the reader is dropped or the hub closed.
  std::optional<std::string> Next(Reader& reader, std::chrono::milliseconds wait);
  // Ends every stream and refuses new readers (the endpoint stops).
  void Close();

 private:
  std::mutex mutex_;
  std::vector<std::shared_ptr<Reader>> open_;
  std::atomic<size_t> readers_ = 0;
  uint64_t seq_ = 0;
  bool closed_ = false;
};

struct EventHub::Reader {
  std::condition_variable ready;
  std::string waiting;
  bool dropped = false;
};

}  // namespace tarvo::tools
