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
  Line(std::unique_ptr<Device> device, uintptr_t token)
      : device_(std::move(device)), token_(token) {}
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  // The value published in PortConfig::SharedHandle.
  uintptr_t token() const { return token_; }
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
  const uintptr_t token_;
};

}  // namespace tarvo::serial
