#include "serial/port.h"

#include <string>
#include <utility>

#include "serial/line.h"
#include "serial/line_registry.h"
#include "serial/mode_string.h"
#include "serial/platform.h"
#include "serial/timeout_text.h"

namespace tarvo::serial {
namespace {

// Queue sizes requested for every line: room for the longest reply.
constexpr uint32_t kQueueBytes = 300;

}  // namespace

Port::Port() = default;
// A line outlives the objects that hold it: only Close releases it.
Port::~Port() = default;

DriverError Port::Open(PortConfig* config) {
  if (config == nullptr) return ErrCreatePort;
  timeout_ = TransferTimeout(config->TimeoutText, sizeof config->TimeoutText);
  early_ = EarlyRepliesOption(config->TimeoutText, sizeof config->TimeoutText);
  const auto token = reinterpret_cast<uintptr_t>(config->SharedHandle);
  if (token != 0) {
    // A closed line, or a value this library never handed out, is not
    // adopted: the device is opened afresh below.
    if (std::shared_ptr<Line> line = FindLine(token)) {
      line_ = std::move(line);
      return ErrOk;
    }
  }
  return OpenDevice(config);
}

DriverError Port::OpenDevice(PortConfig* config) {
  line_.reset();
  const LineSettings* settings = config->Settings;
  if (settings == nullptr) return ErrCreatePort;
  portNumber_ = settings->PortIndex + 1;
  baudRate_ = BaudRateOf(settings->BaudCode, baudRate_);
  const std::string settingsText =
      SettingsText(settings->ParityCode, settings->DataBitsCode, settings->StopBitsCode);
  lineMode_ = settings->RtsDtrMode;

  std::unique_ptr<Device> device = CurrentPlatform().OpenDevice(portNumber_);
  if (device == nullptr) return ErrCreatePort;

  timeouts_ = LineTimeouts{};
  timeouts_.readInterval = kMaxTimeout;
  timeouts_.readTotalMultiplier = kMaxTimeout;
  timeouts_.readTotalConstant = settings->LineTimeout;
  timeouts_.writeTotalMultiplier = 0;
  timeouts_.writeTotalConstant = settings->LineTimeout;
  const std::string mode = ModeString(portNumber_, baudRate_, settingsText);

  DriverError failed = ErrOk;
  if (!device->SetTimeouts(timeouts_)) {
    failed = ErrPortTimeouts;
  } else if (!device->GetState(&state_)) {
    failed = ErrPortState;
  } else {
    // DTR and RTS stay raised while the line is open.
    state_.dtrEnabled = true;
    state_.rtsEnabled = true;
    if (!device->BuildState(mode.c_str(), &state_))
      failed = ErrInitPortData;
    else if (!device->SetState(state_))
      failed = ErrRegisterLimit;
  }
  if (failed != ErrOk) {
    device->Close();
    return failed;
  }
  // A hint only: a platform that keeps its own queue sizes is no failure.
  device->SetupQueues(kQueueBytes, kQueueBytes);

  std::shared_ptr<Line> line = PublishLine(std::move(device));
  if (line == nullptr) return ErrCreatePort;
  config->SharedHandle = reinterpret_cast<HANDLE>(line->token());
  line_ = std::move(line);
  return ErrOk;
}

void Port::Close() {
  if (line_ == nullptr) return;
  CloseLine(*line_);
  line_.reset();
}

bool Port::IsOpen() const { return line_ != nullptr && line_->IsOpen(); }

}  // namespace tarvo::serial
