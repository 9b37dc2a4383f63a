// A Windows communications device opened for overlapped transfers. Every
// transfer has its own event and transfer record and is finished (completed,
// or cancelled and waited for) before the call returns.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "serial/device.h"

namespace tarvo::serial {

class Win32Device final : public Device {
 public:
  // Opens name ("\\.\COM3"): exclusive, overlapped. Null when it fails.
  static std::unique_ptr<Device> Open(const std::string& name);
  ~Win32Device() override;

  bool SetTimeouts(const LineTimeouts& timeouts) override;
  bool GetState(LineState* state) override;
  bool BuildState(const char* mode, LineState* state) override;
  bool SetState(const LineState& state) override;
  bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes) override;
  bool Purge(uint32_t flags) override;
  bool ClearError(uint32_t* queued) override;
  bool Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs) override;
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t timeoutMs) override;
  void Close() override;

 private:
  explicit Win32Device(HANDLE handle) : handle_(handle) {}
  // Waits for a pending transfer; one still pending at the time-out is
  // cancelled and waited for. True when it completed successfully.
  bool Finish(OVERLAPPED* overlapped, uint32_t timeoutMs, DWORD* transferred);

  HANDLE handle_;
  // The control block as the device last reported it; the members a
  // LineState does not describe keep the values the device gave them.
  DCB dcb_{};
};

}  // namespace tarvo::serial
