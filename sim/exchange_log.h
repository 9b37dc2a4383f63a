// The record of everything a bus received: each command with the module
// that took it and what it answered, and the bytes no module took. Tests
// assert on it; a tool can watch it through an observer. Safe to read from
// one thread while a server thread adds to it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sim/bytes.h"
#include "sim/chunk.h"

namespace tarvo::sim {

struct Exchange {
  static constexpr int kNoModule = -1;

  int64_t timeMs = 0;         // when the command's last byte arrived (the bus's clock)
  int address = kNoModule;    // the module that took the command; kNoModule: bytes dropped
  std::string family;         // of that module, empty for dropped bytes
  Bytes command;              // exactly as received; for kNoModule the dropped bytes
  std::vector<Chunk> answer;  // as sent, faults included; empty when silent

  // All answer bytes in order.
  Bytes AnswerBytes() const;
};

class ExchangeLog {
 public:
  // Keeps at most `capacity` entries, dropping the oldest (0: no limit, the
  // default).
  void SetCapacity(size_t capacity);
  // Called with every entry after it was added, on the adding thread,
  // without the log's lock held.
  void SetObserver(std::function<void(const Exchange&)> observer);

  void Add(Exchange exchange);
  void Clear();

  std::vector<Exchange> Entries() const;
  size_t size() const;
  // Commands that modules took, as texts, in order of arrival.
  std::vector<std::string> Commands() const;
  // Commands that modules took and that begin with `prefix` (e.g. "#0a").
  size_t Count(std::string_view prefix) const;
  // Commands that the module at `address` took.
  size_t CountFor(int address) const;
  // All bytes that no module took, in order of arrival.
  Bytes Dropped() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Exchange> entries_;
  size_t capacity_ = 0;
  std::function<void(const Exchange&)> observer_;
};

}  // namespace tarvo::sim
