#include "support/fake_line.h"

#include <algorithm>

#include "serial/clock.h"
#include "serial/posix/parse_mode_string.h"

namespace tarvo::test {
namespace {
int64_t Now() { return serial::CurrentClock().NowMs(); }
}  // namespace

// The device handed out for one open of a FakeLine. It keeps the line
// alive, so a device left in the library's registry never dangles.
class FakeDevice final : public serial::Device {
 public:
  explicit FakeDevice(std::shared_ptr<FakeLine> line) : line_(std::move(line)) {}
  ~FakeDevice() override { Close(); }

  bool SetTimeouts(const serial::LineTimeouts& timeouts) override {
    if (!Call(FakeOp::SetTimeouts)) return false;
    line_->timeouts_ = timeouts;
    return true;
  }
  bool GetState(serial::LineState* state) override {
    if (!Call(FakeOp::GetState)) return false;
    *state = line_->deviceState_;
    return true;
  }
  bool BuildState(const char* mode, serial::LineState* state) override {
    if (!Call(FakeOp::BuildState)) return false;
    line_->modes_.push_back(mode);
    // The line takes mode strings as the POSIX platform does.
    return serial::ParseModeString(mode, state);
  }
  bool SetState(const serial::LineState& state) override {
    if (!Call(FakeOp::SetState)) return false;
    line_->deviceState_ = state;
    return true;
  }
  bool SetupQueues(uint32_t inputBytes, uint32_t) override {
    if (!Call(FakeOp::SetupQueues)) return false;
    line_->queueSize_ = inputBytes;
    return true;
  }
  bool Purge(uint32_t flags) override {
    if (!Call(FakeOp::Purge)) return false;
    line_->purges_.push_back(flags);
    if ((flags & serial::kPurgeRxClear) != 0) {
      auto& input = line_->input_;
      input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(line_->arrived()));
    }
    return true;
  }
  bool ClearError(uint32_t* queued) override {
    if (!Call(FakeOp::ClearError)) return false;
    *queued = static_cast<uint32_t>(line_->arrived()) + line_->overstated_;
    return true;
  }
  bool Write(const uint8_t* bytes, uint32_t count, uint32_t) override {
    if (!Call(FakeOp::Write)) return false;
    const int64_t now = Now();
    line_->writes_.push_back(FakeWrite{now, std::vector<uint8_t>(bytes, bytes + count)});
    if (line_->peer_ && count > 0)
      for (const sim::Chunk& chunk : line_->peer_(bytes, count, now))
        line_->Schedule(chunk.bytes, now + chunk.delayMs);
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t) override {
    if (!Call(FakeOp::Read)) return false;
    auto& input = line_->input_;
    const size_t taken = std::min<size_t>(count, line_->arrived());
    for (size_t i = 0; i < taken; ++i) buffer[i] = input[i].byte;
    input.erase(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(taken));
    *got = static_cast<uint32_t>(taken);
    return true;
  }
  void Close() override {
    if (closed_) return;
    closed_ = true;
    line_->open_ = false;
    ++line_->closes_;
  }

 private:
  bool Call(FakeOp op) {
    if (closed_) {
      ++line_->usesAfterClose_;
      return false;
    }
    return line_->Call(op);
  }

  std::shared_ptr<FakeLine> line_;
  bool closed_ = false;
};

FakeLine::FakeLine() {
  deviceState_.baudRate = 9600;
  deviceState_.dataBits = 8;
}

void FakeLine::Deliver(const std::vector<uint8_t>& bytes, int64_t delayMs) {
  Schedule(bytes, Now() + delayMs);
}

void FakeLine::Schedule(const std::vector<uint8_t>& bytes, int64_t atMs) {
  // After everything due at the same time or earlier: bytes keep the order
  // in which they were sent.
  auto at = std::upper_bound(input_.begin(), input_.end(), atMs,
                             [](int64_t t, const Pending& pending) { return t < pending.atMs; });
  for (uint8_t byte : bytes) at = input_.insert(at, Pending{atMs, byte}) + 1;
}

void FakeLine::FailNext(FakeOp op, int n) {
  const int index = static_cast<int>(op);
  failAt_[index] = calls_[index] + n;
  failOn_[index] = false;
}

void FakeLine::FailFrom(FakeOp op, int n) {
  FailNext(op, n);
  failOn_[static_cast<int>(op)] = true;
}

void FakeLine::Heal(FakeOp op) {
  failAt_[static_cast<int>(op)] = 0;
  failOn_[static_cast<int>(op)] = false;
}

bool FakeLine::Call(FakeOp op) {
  const int index = static_cast<int>(op);
  const int call = ++calls_[index];
  const int at = failAt_[index];
  if (at == 0) return true;
  return !(call == at || (failOn_[index] && call > at));
}

std::vector<uint8_t> FakeLine::written() const {
  std::vector<uint8_t> all;
  for (const FakeWrite& write : writes_)
    all.insert(all.end(), write.bytes.begin(), write.bytes.end());
  return all;
}

size_t FakeLine::arrived() const {
  const int64_t now = Now();
  return static_cast<size_t>(
      std::find_if(input_.begin(), input_.end(), [&](const Pending& p) { return p.atMs > now; }) -
      input_.begin());
}

size_t FakeLine::inFlight() const { return input_.size() - arrived(); }

void FakeLine::ClearRecords() {
  writes_.clear();
  purges_.clear();
  modes_.clear();
}

std::unique_ptr<serial::Device> FakeLine::Open() {
  if (!Call(FakeOp::Open) || missing_ || open_) return nullptr;
  open_ = true;
  ++opens_;
  return std::make_unique<FakeDevice>(shared_from_this());
}

}  // namespace tarvo::test
