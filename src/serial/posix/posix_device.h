// A tty opened as a serial line: non-blocking, never the controlling
// terminal, locked against a second open by this or another process using
// the same lock, raw while the line is open and restored when it closes.
#pragma once

#include <termios.h>

#include <memory>
#include <string>

#include "serial/device.h"

namespace tarvo::serial {

class PosixDevice final : public Device {
 public:
  // Opens path; null when it does not exist, cannot be opened for reading
  // and writing, or is held by another line.
  static std::unique_ptr<Device> Open(const std::string& path);
  ~PosixDevice() override;

  bool SetTimeouts(const LineTimeouts& timeouts) override;
  bool GetState(LineState* state) override;
  bool BuildState(const char* mode, LineState* state) override;
  bool SetState(const LineState& state) override;
  bool SetupQueues(uint32_t inputBytes, uint32_t outputBytes) override;
  bool Purge(uint32_t flags) override;
  bool ClearError(uint32_t* queued) override;
  bool Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs) override;
  bool Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t timeoutMs) override;
  bool WaitForInput(uint32_t timeoutMs) override;
  void Close() override;

 private:
  explicit PosixDevice(int fd);

  int fd_;
  LineTimeouts timeouts_;
  // The attributes the tty had before this line, put back on close.
  termios original_{};
  bool restore_ = false;
};

}  // namespace tarvo::serial
