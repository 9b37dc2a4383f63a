#include "serial/port.h"

#include <algorithm>
#include <atomic>
#include <span>
#include <string>
#include <utility>

#include "serial/clock.h"
#include "serial/device.h"
#include "serial/line.h"
#include "serial/settings.h"

namespace tarvo::serial {

namespace {

// Queue sizes requested for every line: room for the longest reply.
constexpr uint32_t kQueueBytes = 300;

std::atomic<Platform*> installedPlatform{nullptr};

// Negative time-outs count as 0.
uint32_t Milliseconds(int32_t ms) { return ms < 0 ? 0u : static_cast<uint32_t>(ms); }

bool ValidOutput(const uint8_t* bytes, int32_t count) {
  return count >= 0 && (bytes != nullptr || count == 0);
}

}  // namespace

Port::Port() = default;
// A line outlives the objects that hold it: only Close releases it.
Port::~Port() = default;

OpenResult Port::Open(PortConfig* config) {
  if (config == nullptr) return OpenResult::kNoDevice;
  timeout_ = TransferTimeout(config->TimeoutText, sizeof config->TimeoutText);
  early_ = EarlyRepliesOption(config->TimeoutText, sizeof config->TimeoutText);
  const auto token = reinterpret_cast<uintptr_t>(config->SharedHandle);
  if (token != 0) {
    // A closed line, or a value this library never handed out, is not
    // adopted: the device is opened afresh below.
    if (std::shared_ptr<Line> line = FindLine(token)) {
      line_ = std::move(line);
      linePort_ = line_->port();
      return OpenResult::kOpened;
    }
  }
  return OpenDevice(config);
}

OpenResult Port::OpenDevice(PortConfig* config) {
  line_.reset();
  const LineSettings* settings = config->Settings;
  if (settings == nullptr) return OpenResult::kNoDevice;
  portNumber_ = settings->PortIndex + 1;
  baudRate_ = BaudRateOf(settings->BaudCode, baudRate_);
  const std::string settingsText =
      SettingsText(settings->ParityCode, settings->DataBitsCode, settings->StopBitsCode);
  lineMode_ = settings->RtsDtrMode;

  std::unique_ptr<Device> device = CurrentPlatform().OpenDevice(portNumber_);
  if (device == nullptr) return OpenResult::kNoDevice;

  timeouts_ = LineTimeouts{};
  timeouts_.readInterval = kMaxTimeout;
  timeouts_.readTotalMultiplier = kMaxTimeout;
  timeouts_.readTotalConstant = settings->LineTimeout;
  timeouts_.writeTotalMultiplier = 0;
  timeouts_.writeTotalConstant = settings->LineTimeout;
  const std::string mode = ModeString(portNumber_, baudRate_, settingsText);

  OpenResult failed = OpenResult::kOpened;
  if (!device->SetTimeouts(timeouts_)) {
    failed = OpenResult::kTimeoutsFailed;
  } else if (!device->GetState(&state_)) {
    failed = OpenResult::kStateFailed;
  } else {
    // DTR and RTS stay raised while the line is open.
    state_.dtrEnabled = true;
    state_.rtsEnabled = true;
    if (!device->BuildState(mode.c_str(), &state_))
      failed = OpenResult::kModeRejected;
    else if (!device->SetState(state_))
      failed = OpenResult::kStateRejected;
  }
  if (failed != OpenResult::kOpened) {
    device->Close();
    return failed;
  }
  // A hint only: a platform that keeps its own queue sizes is no failure.
  device->SetupQueues(kQueueBytes, kQueueBytes);

  std::shared_ptr<Line> line = PublishLine(std::move(device), portNumber_, baudRate_);
  if (line == nullptr) return OpenResult::kNoDevice;
  config->SharedHandle = reinterpret_cast<HANDLE>(line->token());
  line_ = std::move(line);
  linePort_ = portNumber_;
  return OpenResult::kOpened;
}

void Port::Close() {
  if (line_ == nullptr) return;
  CloseLine(*line_);
  line_.reset();
}

bool Port::IsOpen() const { return line_ != nullptr && line_->IsOpen(); }

bool Port::Write(const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
  if (line_ == nullptr || !ValidOutput(bytes, count)) return false;
  return line_->Use([&](Device& device) {
    // Nothing older than this command may be taken for its reply.
    device.Purge(kPurgeAll);
    return device.Write(bytes, static_cast<uint32_t>(count), Milliseconds(timeoutMs));
  });
}

bool Port::WriteNoPurge(const uint8_t* bytes, int32_t count, int32_t timeoutMs) {
  if (line_ == nullptr || !ValidOutput(bytes, count)) return false;
  return line_->Use([&](Device& device) {
    return device.Write(bytes, static_cast<uint32_t>(count), Milliseconds(timeoutMs));
  });
}

bool Port::Read(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count) {
  // The module's time to answer: the wait comes first, even on a line that
  // turns out to be unusable.
  CurrentClock().SleepMs(Milliseconds(timeoutMs));
  return ReadNoSleep(buffer, capacity, timeoutMs, count);
}

bool Port::ReadNoSleep(uint8_t* buffer, size_t capacity, int32_t timeoutMs, uint32_t* count) {
  if (line_ == nullptr || (buffer == nullptr && capacity > 0)) return false;
  return line_->Use([&](Device& device) {
    uint32_t queued = 0;
    if (!device.ClearError(&queued)) return false;
    // The queued count is a hint (some platforms report it wrong): never
    // read past the caller's buffer on its word.
    const uint32_t wanted =
        static_cast<uint32_t>(std::min<uint64_t>(queued, std::min<uint64_t>(capacity, UINT32_MAX)));
    uint32_t got = 0;
    if (!device.Read(buffer, wanted, &got, Milliseconds(timeoutMs))) return false;
    if (count != nullptr) *count = std::min(got, wanted);
    return true;
  });
}

void Port::Purge() {
  if (line_ != nullptr) line_->Use([](Device& device) { return device.Purge(kPurgeAll); });
}

void Port::PurgeInput() {
  if (line_ != nullptr) line_->Use([](Device& device) { return device.Purge(kPurgeReceive); });
}

bool Port::ClearError() {
  if (line_ == nullptr) return false;
  return line_->Use([](Device& device) {
    uint32_t queued = 0;
    return device.ClearError(&queued);
  });
}

namespace {

// The longest one wait for input holds the line: a ClosePort from another
// thread waits no longer for it.
constexpr uint32_t kLineHoldMs = 50;
// Bits of one byte on the line at 8N1; a parity or second stop bit makes
// it longer, so the time below is never too long.
constexpr uint64_t kBitsPerByte = 10;

// The whole milliseconds bytes take on the line at baudRate, rounded down.
uint32_t WireMs(size_t bytes, int32_t baudRate) {
  if (baudRate <= 0) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(
      uint64_t{bytes} * kBitsPerByte * 1000 / static_cast<uint64_t>(baudRate), UINT32_MAX));
}

// The answer's length by whole's word, where it can still be reached:
// kReplyNeverWhole also for a length beyond the buffer.
size_t ReachableLength(const ReplyRule& whole, const uint8_t* buffer, size_t taken,
                       size_t capacity) {
  const size_t length = whole(std::span<const uint8_t>(buffer, taken));
  return length != kReplyLengthUnknown && length > capacity ? kReplyNeverWhole : length;
}

}  // namespace

bool Port::ReadReply(uint8_t* buffer, size_t capacity, int32_t settleMs, int32_t timeoutMs,
                     const ReplyRule& whole, uint32_t* count) {
  if (early_ && whole && line_ != nullptr && (buffer != nullptr || capacity == 0))
    return ReadEarly(buffer, capacity,
                     static_cast<int32_t>(std::min<int64_t>(
                         int64_t{Milliseconds(settleMs)} + Milliseconds(timeoutMs), INT32_MAX)),
                     timeoutMs, whole, count);
  if (settleMs > 0) CurrentClock().SleepMs(static_cast<uint32_t>(settleMs));
  return Read(buffer, capacity, timeoutMs, count);
}

bool Port::ReadEarly(uint8_t* buffer, size_t capacity, int32_t waitMs, int32_t timeoutMs,
                     const ReplyRule& whole, uint32_t* count) {
  Clock& clock = CurrentClock();
  const int64_t deadline = clock.NowMs() + waitMs;
  size_t taken = 0;
  bool failed = false;
  // The device's wait for input is trusted until one ends early without
  // bringing any (a device without such a wait, a hung-up line, a signal,
  // a clock that is not real time); from then on the clock's steps of
  // kReplyPollMs take its place.
  bool stepped = false;
  bool wokeEarly = false;
  bool sleptWireTime = false;
  for (;;) {
    // Each pass reads what is queued, as the default mode's single read
    // does at the deadline, so the bytes taken in all passes together are
    // the bytes that read would have returned.
    uint32_t got = 0;
    if (!failed && taken < capacity) {
      if (ReadNoSleep(buffer + taken, capacity - taken, timeoutMs, &got))
        taken += got;
      else
        failed = true;
    }
    const size_t length =
        failed ? kReplyNeverWhole : ReachableLength(whole, buffer, taken, capacity);
    if (length != kReplyLengthUnknown && length != kReplyNeverWhole && taken >= length) break;
    const int64_t now = clock.NowMs();
    if (now >= deadline) break;
    const auto left = static_cast<uint32_t>(std::min<int64_t>(deadline - now, UINT32_MAX));
    if (wokeEarly && got == 0) stepped = true;
    wokeEarly = false;
    // Nothing more to learn before the deadline: a failed line, a full
    // buffer, or an answer that cannot become whole.
    if (length == kReplyNeverWhole || taken == capacity) {
      clock.SleepMs(left);
      continue;
    }
    // The rest of an answer of known length, once it has begun, needs its
    // time on the wire: nothing to look at before then. Once only: bytes
    // still missing after it are late, and come in bursts as the sender
    // catches up, so the wait for input takes them as they come.
    if (!sleptWireTime && got > 0 && length != kReplyLengthUnknown) {
      sleptWireTime = true;
      if (const uint32_t wire = WireMs(length - taken, line_->baudRate()); wire > 0) {
        clock.SleepMs(std::min(wire, left));
        continue;
      }
    }
    if (!stepped) {
      const uint32_t slice = std::min(left, kLineHoldMs);
      const int64_t before = clock.NowMs();
      if (line_->Use([&](Device& device) { return device.WaitForInput(slice); })) {
        wokeEarly = clock.NowMs() - before < slice;
        continue;
      }
      stepped = true;
    }
    clock.SleepMs(std::min(left, kReplyPollMs));
  }
  if (failed) return false;
  if (count != nullptr) *count = static_cast<uint32_t>(taken);
  return true;
}

Platform& CurrentPlatform() {
  Platform* platform = installedPlatform.load();
  return platform != nullptr ? *platform : SystemPlatform();
}

void SetPlatform(Platform* platform) { installedPlatform.store(platform); }

}  // namespace tarvo::serial
