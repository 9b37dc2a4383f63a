#include "serial/line.h"

namespace tarvo::serial {

bool Line::IsOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return device_ != nullptr;
}

void Line::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!device_) return;
  device_->Close();
  device_.reset();
}

}  // namespace tarvo::serial
