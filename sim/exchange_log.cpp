#include "sim/exchange_log.h"

namespace tarvo::sim {

Bytes Exchange::AnswerBytes() const {
  Bytes bytes;
  for (const Chunk& chunk : answer)
    bytes.insert(bytes.end(), chunk.bytes.begin(), chunk.bytes.end());
  return bytes;
}

void ExchangeLog::SetCapacity(size_t capacity) {
  std::lock_guard lock(mutex_);
  capacity_ = capacity;
  while (capacity_ > 0 && entries_.size() > capacity_) entries_.pop_front();
}

void ExchangeLog::SetObserver(std::function<void(const Exchange&)> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

void ExchangeLog::Add(Exchange exchange) {
  std::function<void(const Exchange&)> observer;
  {
    std::lock_guard lock(mutex_);
    entries_.push_back(exchange);
    while (capacity_ > 0 && entries_.size() > capacity_) entries_.pop_front();
    observer = observer_;
  }
  if (observer) observer(exchange);
}

void ExchangeLog::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::vector<Exchange> ExchangeLog::Entries() const {
  std::lock_guard lock(mutex_);
  return {entries_.begin(), entries_.end()};
}

size_t ExchangeLog::size() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

std::vector<std::string> ExchangeLog::Commands() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> commands;
  for (const Exchange& e : entries_) {
    if (e.address != Exchange::kNoModule) commands.push_back(ToText(e.command));
  }
  return commands;
}

size_t ExchangeLog::Count(std::string_view prefix) const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const Exchange& e : entries_) {
    if (e.address != Exchange::kNoModule && ToText(e.command).starts_with(prefix)) ++count;
  }
  return count;
}

size_t ExchangeLog::CountFor(int address) const {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const Exchange& e : entries_) count += e.address == address ? 1 : 0;
  return count;
}

Bytes ExchangeLog::Dropped() const {
  std::lock_guard lock(mutex_);
  Bytes bytes;
  for (const Exchange& e : entries_) {
    if (e.address == Exchange::kNoModule)
      bytes.insert(bytes.end(), e.command.begin(), e.command.end());
  }
  return bytes;
}

}  // namespace tarvo::sim
