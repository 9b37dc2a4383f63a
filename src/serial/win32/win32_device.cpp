#include "serial/win32/win32_device.h"

#include <string>

#include "serial/device.h"
#include "serial/win32/dcb_state.h"

namespace tarvo::serial {

std::unique_ptr<Device> Win32Device::Open(const std::string& name) {
  HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::unique_ptr<Device>(new Win32Device(handle));
}

Win32Device::~Win32Device() { Close(); }

bool Win32Device::SetTimeouts(const LineTimeouts& timeouts) {
  COMMTIMEOUTS native{};
  native.ReadIntervalTimeout = timeouts.readInterval;
  native.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
  native.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
  native.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
  native.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
  return SetCommTimeouts(handle_, &native) != FALSE;
}

bool Win32Device::GetState(LineState* state) {
  dcb_ = DCB{};
  dcb_.DCBlength = sizeof dcb_;
  if (!GetCommState(handle_, &dcb_)) return false;
  *state = StateOf(dcb_);
  return true;
}

bool Win32Device::BuildState(const char* mode, LineState* state) {
  Overlay(*state, &dcb_);
  if (!BuildCommDCBA(mode, &dcb_)) return false;
  *state = StateOf(dcb_);
  return true;
}

bool Win32Device::SetState(const LineState& state) {
  Overlay(state, &dcb_);
  return SetCommState(handle_, &dcb_) != FALSE;
}

bool Win32Device::SetupQueues(uint32_t inputBytes, uint32_t outputBytes) {
  return SetupComm(handle_, inputBytes, outputBytes) != FALSE;
}

bool Win32Device::Purge(uint32_t flags) { return PurgeComm(handle_, flags) != FALSE; }

bool Win32Device::ClearError(uint32_t* queued) {
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(handle_, &errors, &status)) return false;
  *queued = status.cbInQue;
  return true;
}

bool Win32Device::Finish(OVERLAPPED* overlapped, uint32_t timeoutMs, DWORD* transferred) {
  if (WaitForSingleObject(overlapped->hEvent, timeoutMs) != WAIT_OBJECT_0) {
    // The transfer record and the caller's buffer must not be touched once
    // this call returns: cancel, then wait until the platform lets go.
    CancelIo(handle_);
    DWORD ignored = 0;
    GetOverlappedResult(handle_, overlapped, &ignored, TRUE);
    return false;
  }
  return GetOverlappedResult(handle_, overlapped, transferred, FALSE) != FALSE;
}

bool Win32Device::Write(const uint8_t* bytes, uint32_t count, uint32_t timeoutMs) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return false;
  DWORD written = 0;
  bool done;
  if (WriteFile(handle_, bytes, count, &written, &overlapped))
    done = true;
  else if (GetLastError() != ERROR_IO_PENDING)
    done = false;
  else
    done = Finish(&overlapped, timeoutMs, &written);
  CloseHandle(overlapped.hEvent);
  // A line time-out can end a write early: part of a command is no command.
  return done && written == count;
}

bool Win32Device::Read(uint8_t* buffer, uint32_t count, uint32_t* got, uint32_t timeoutMs) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return false;
  DWORD read = 0;
  bool done;
  if (ReadFile(handle_, buffer, count, &read, &overlapped))
    done = true;
  else if (GetLastError() != ERROR_IO_PENDING)
    done = false;
  else
    done = Finish(&overlapped, timeoutMs, &read);
  CloseHandle(overlapped.hEvent);
  if (!done) return false;
  *got = read < count ? read : count;
  return true;
}

void Win32Device::Close() {
  if (handle_ == INVALID_HANDLE_VALUE) return;
  CloseHandle(handle_);
  handle_ = INVALID_HANDLE_VALUE;
}

namespace {

class Win32Platform final : public Platform {
 public:
  std::unique_ptr<Device> OpenDevice(int32_t port) override {
    if (port < kFirstPort || port > kLastPort) return nullptr;
    return Win32Device::Open(PortDevice(port));
  }
};

}  // namespace

Platform& SystemPlatform() {
  static Win32Platform platform;
  return platform;
}

// Windows names its own ports; the "\\.\" form reaches COM10 and above too.
bool SetPortDevice(int32_t, const char*) { return false; }

std::string PortDevice(int32_t port) { return "\\\\.\\COM" + std::to_string(port); }

}  // namespace tarvo::serial
