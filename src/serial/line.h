// A line the library opened: one device, shared by every driver object that
// adopted it, named to the host by a token. Closing the line releases the
// device at once, whoever else holds the line; they then fail every use
// without touching the released device (whose OS handle may already belong
// to someone else).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "serial/device.h"

namespace tarvo::serial {

class Line {
 public:
  Line(std::unique_ptr<Device> device, int32_t port, int32_t baudRate, uintptr_t token)
      : device_(std::move(device)), port_(port), baudRate_(baudRate), token_(token) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // The value published in PortConfig::SharedHandle.
  uintptr_t token() const { return token_; }
  // The port number the device was opened for.
  int32_t port() const { return port_; }
  // The rate in bit/s the device was opened with.
  int32_t baudRate() const { return baudRate_; }
  bool IsOpen() const;

  // Runs operation(Device&) while the line is open and returns its result;
  // false once the line is closed. Uses of one line never overlap.
  template <class Operation>
  bool Use(Operation&& operation) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!device_) return false;
    return operation(*device_);
  }

  // Releases the device; later calls do nothing.
  void Close();

 private:
  mutable std::mutex mutex_;
  std::unique_ptr<Device> device_;
  const int32_t port_;
  const int32_t baudRate_;
  const uintptr_t token_;
};

// The process-wide table of the lines the library opened, by token. A token
// is what OpenPort publishes in PortConfig::SharedHandle: never 0, never
// all ones, never reused within a process, and it fits 32 bits on 32-bit
// builds. A line stays in the table, and its device open, until a ClosePort
// closes it (a driver object's destruction does not).
// Publishes an opened, configured device of port, set to baudRate, as a new
// line. Null only when the process has used up its tokens; the device is
// closed then.
std::shared_ptr<Line> PublishLine(std::unique_ptr<Device> device, int32_t port, int32_t baudRate);
// The open line token names; null for a closed line or a value never
// published.
std::shared_ptr<Line> FindLine(uintptr_t token);
// Closes line and withdraws its token; a no-op for a line already closed.
void CloseLine(Line& line);

}  // namespace tarvo::serial
