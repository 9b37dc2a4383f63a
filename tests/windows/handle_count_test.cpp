// Handles over many polls: rounds of a host's whole cycle with a pxr5700
// object (create, a refused open, an open, a read that succeeds, a read and
// a write that no module answers, close, release) must leave the process's
// handle count where the first round left it. The port is mapped to the
// pseudo-terminal that tarvo_sim_peer serves (module 2 answers, module 3
// does not exist); run.sh compares the commands the peer received with
// handle_count_exchanges.txt, once per round.
// Usage: handle_count_test PORT-NUMBER UNMAPPED-PORT-NUMBER ROUNDS
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "checks.h"
#include "host_interface.h"
#include "tarvo/guids.h"

using namespace tarvo_test;

namespace {

// The handles the process holds, counted one by one: Wine answers
// GetProcessHandleCount with 0. Handle values are multiples of 4 and are
// given out lowest first, so the first 16384 values hold every handle of a
// process that has fewer.
DWORD HandleCount() {
  DWORD count = 0;
  for (uintptr_t value = 4; value <= 4 * 16384; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
  }
  return count;
}

void Round(Checks& checks, int port, int unmapped, int round) {
  const std::string label = "round " + std::to_string(round) + ": ";
  void* object = nullptr;
  checks.ExpectHr(CoCreateInstance(tarvo::CLSID_Cpxr5700, nullptr, CLSCTX_INPROC_SERVER,
                                   tarvo::IID_IIoDriver, &object),
                  S_OK, label + "CoCreateInstance");
  auto* driver = static_cast<HostDriver*>(object);
  if (driver == nullptr) return;

  HostPort refused(unmapped);
  checks.ExpectEqual(driver->OpenPort(&refused.config), 0, label + "OpenPort of an unmapped port");
  HostPort host(port);
  checks.ExpectEqual(driver->OpenPort(&host.config), 1, label + "OpenPort");

  HostItem present{};
  present.DataType = kDataTypeDiscrete;
  HostItem absent = present;
  checks.ExpectEqual(driver->ParseItem("DI2.0", &present), 1, label + "ParseItem DI2.0");
  checks.ExpectEqual(driver->ParseItem("DO3.0", &absent), 1, label + "ParseItem DO3.0");
  HostValue value{};
  checks.ExpectEqual(driver->ReadItem(0, &present, &value), 1, label + "ReadItem DI2.0");
  checks.ExpectEqual(value.DiscreteValue, 1, label + "DI2.0");
  checks.ExpectEqual(driver->ReadItem(0, &absent, &value), 0, label + "ReadItem DO3.0");
  value.DiscreteValue = 1;
  checks.ExpectEqual(driver->WriteItem(0, &absent, &value), 0, label + "WriteItem DO3.0");

  checks.ExpectEqual(driver->ClosePort(0), 1, label + "ClosePort");
  checks.ExpectEqual(driver->Release(), 0, label + "Release");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    std::printf("usage: handle_count_test PORT-NUMBER UNMAPPED-PORT-NUMBER ROUNDS\n");
    return 2;
  }
  const int port = _wtoi(argv[1]);
  const int unmapped = _wtoi(argv[2]);
  const int rounds = _wtoi(argv[3]);
  Checks checks;
  checks.ExpectHr(CoInitialize(nullptr), S_OK, "CoInitialize");
  // The first round loads what stays loaded (the DLL, the COM runtime's
  // objects); every later round must give back all it takes.
  Round(checks, port, unmapped, 1);
  const DWORD before = HandleCount();
  for (int round = 2; round <= rounds; ++round) Round(checks, port, unmapped, round);
  const DWORD after = HandleCount();
  std::printf("handles after round 1: %lu, after round %d: %lu\n", before, rounds, after);
  checks.Expect(before > 0, "GetProcessHandleCount answers");
  checks.ExpectEqual(after, before, "handles after the last round");
  CoUninitialize();
  return checks.Finish();
}
