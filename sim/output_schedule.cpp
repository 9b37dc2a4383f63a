#include "sim/output_schedule.h"

#include <algorithm>

namespace tarvo::sim {

OutputSchedule::OutputSchedule(int baud) : byteUs_(baud > 0 ? 10'000'000 / baud : 0) {}

void OutputSchedule::Add(const std::vector<Chunk>& chunks, int64_t nowUs) {
  for (const Chunk& chunk : chunks) {
    if (chunk.bytes.empty()) continue;
    Pending item{nowUs + chunk.delayMs * 1000, chunk.bytes};
    // A chunk partly on the line is finished before anything else goes.
    const auto first = queue_.begin() + (frontStarted_ && !queue_.empty() ? 1 : 0);
    auto later = std::upper_bound(first, queue_.end(), item.dueUs,
                                  [](int64_t due, const Pending& p) { return due < p.dueUs; });
    queue_.insert(later, std::move(item));
  }
}

std::optional<int64_t> OutputSchedule::NextUs() const {
  if (queue_.empty()) return std::nullopt;
  return std::max(queue_.front().dueUs, lineFreeUs_);
}

std::optional<int64_t> OutputSchedule::NextChunkEndUs() const {
  const std::optional<int64_t> next = NextUs();
  if (!next) return std::nullopt;
  return *next + static_cast<int64_t>(queue_.front().bytes.size() - 1) * byteUs_;
}

Bytes OutputSchedule::Take(int64_t nowUs) {
  Bytes out;
  while (!queue_.empty()) {
    Pending& front = queue_.front();
    const int64_t start = std::max(front.dueUs, lineFreeUs_);
    if (start > nowUs) break;
    size_t count = front.bytes.size();
    if (byteUs_ > 0) {
      // Bytes that have started by now: the first at `start`, then one per byte time.
      count = std::min<size_t>(count, static_cast<size_t>((nowUs - start) / byteUs_) + 1);
    }
    out.insert(out.end(), front.bytes.begin(), front.bytes.begin() + count);
    lineFreeUs_ = start + static_cast<int64_t>(count) * byteUs_;
    if (count == front.bytes.size()) {
      queue_.pop_front();
      frontStarted_ = false;
    } else {
      front.bytes.erase(front.bytes.begin(), front.bytes.begin() + count);
      front.dueUs = lineFreeUs_;
      frontStarted_ = true;
      break;
    }
  }
  return out;
}

void OutputSchedule::PutBack(Bytes unsent, int64_t nowUs) {
  if (unsent.empty()) return;
  queue_.push_front({nowUs, std::move(unsent)});
  frontStarted_ = true;
  lineFreeUs_ = std::min(lineFreeUs_, nowUs);
}

}  // namespace tarvo::sim
