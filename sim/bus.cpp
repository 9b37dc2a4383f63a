#include "sim/bus.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace tarvo::sim {

Module& Bus::Add(std::unique_ptr<Module> module) {
  if (!module) throw std::invalid_argument("no module");
  const int address = module->address();
  auto [it, added] = modules_.try_emplace(address, std::move(module));
  if (!added) throw std::invalid_argument("address " + std::to_string(address) + " is taken");
  return *it->second;
}

Module* Bus::Find(int address) const {
  auto it = modules_.find(address);
  return it == modules_.end() ? nullptr : it->second.get();
}

void Bus::Remove(int address) { modules_.erase(address); }

size_t Bus::pendingBytes() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}

PeerFunction Bus::Peer() {
  return [this](const uint8_t* bytes, size_t count, int64_t nowMs) {
    return Feed(bytes, count, nowMs);
  };
}

void Bus::FlushDropped(int64_t nowMs) {
  if (dropped_.empty()) return;
  Exchange e;
  e.timeMs = nowMs;
  e.command = std::move(dropped_);
  dropped_.clear();
  log_.Add(std::move(e));
}

std::vector<Chunk> Bus::Feed(const uint8_t* bytes, size_t count, int64_t nowMs) {
  std::lock_guard lock(mutex_);
  pending_.insert(pending_.end(), bytes, bytes + count);
  std::vector<Chunk> out;
  size_t at = 0;
  while (at < pending_.size()) {
    const std::span<const uint8_t> head(pending_.data() + at, pending_.size() - at);
    Module* taker = nullptr;
    size_t length = 0;
    bool waiting = false;
    for (const auto& [address, module] : modules_) {
      const Frame frame = module->FrameCommand(head);
      if (frame.status == FrameStatus::kComplete) {
        taker = module.get();
        length = frame.length;
        break;
      }
      waiting = waiting || frame.status == FrameStatus::kIncomplete;
    }
    if (taker != nullptr) {
      FlushDropped(nowMs);
      Exchange e;
      e.timeMs = nowMs;
      e.address = taker->address();
      e.family = std::string(taker->family());
      e.command.assign(head.begin(), head.begin() + length);
      e.answer = taker->Respond(e.command, nowMs);
      out.insert(out.end(), e.answer.begin(), e.answer.end());
      log_.Add(std::move(e));
      at += length;
    } else if (waiting && head.size() < Module::kMaxCommandLength) {
      break;
    } else {
      dropped_.push_back(pending_[at++]);
    }
  }
  pending_.erase(pending_.begin(), pending_.begin() + at);
  FlushDropped(nowMs);
  return out;
}

}  // namespace tarvo::sim
