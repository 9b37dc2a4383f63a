// Smoke test of a COM port mapped to a pseudo-terminal: opens \\.\COMn the
// way the drivers do, sends "ping\r" and waits for the peer's "pong\r".
// Usage: port_smoke_test N (the peer is pty_peer.py on the other side).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "checks.h"

using namespace tarvo_test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: port_smoke_test PORT-NUMBER\n");
    return 2;
  }
  Checks checks;
  const std::string device = std::string("\\\\.\\COM") + argv[1];
  HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            0, nullptr);
  checks.Expect(port != INVALID_HANDLE_VALUE,
                "CreateFileA " + device + " (error " + std::to_string(GetLastError()) + ")");
  if (port == INVALID_HANDLE_VALUE) return checks.Finish();

  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = 100;
  timeouts.ReadTotalTimeoutConstant = 5000;
  timeouts.WriteTotalTimeoutConstant = 5000;
  checks.Expect(SetCommTimeouts(port, &timeouts), "SetCommTimeouts");

  const char request[] = "ping\r";
  DWORD written = 0;
  checks.Expect(WriteFile(port, request, 5, &written, nullptr), "WriteFile");
  checks.ExpectEqual(written, 5, "bytes written");

  std::string reply;
  for (int attempt = 0; attempt < 10 && reply.size() < 5; ++attempt) {
    char buffer[16];
    DWORD read = 0;
    if (!ReadFile(port, buffer, static_cast<DWORD>(sizeof buffer), &read, nullptr)) break;
    reply.append(buffer, read);
  }
  checks.ExpectEqual(std::wstring(reply.begin(), reply.end()), L"pong\r", "reply");
  CloseHandle(port);
  return checks.Finish();
}
