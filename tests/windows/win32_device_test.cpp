// The library's Windows serial device on a COM port mapped to the
// pseudo-terminal that tarvo_sim_peer serves, below the drivers: opened and
// configured as the line does it, then single transfers with the pxr5700
// module at address 2 (inputs 0x0D, numeric texts "23.45" and " -1.5").
// Under Wine an overlapped read of bytes already queued still reports
// ERROR_IO_PENDING and completes a moment later, and a read that waits for
// bytes is ended only by the device's cancellation.
// run.sh compares the commands the peer received with
// win32_device_exchanges.txt.
// Usage: win32_device_test PORT-NUMBER
#include "serial/win32/win32_device.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "checks.h"
#include "serial/device.h"

using namespace tarvo_test;
using tarvo::serial::Device;

namespace {

constexpr uint32_t kAnswerMs = 100;  // the simulator answers at once
constexpr uint8_t kUntouched = 0xEE;

std::string Describe(const tarvo::serial::LineState& state) {
  char text[96];
  std::snprintf(text, sizeof text, "%u bit/s, %u bits, parity %d, stop %d, flow %d, DTR %d, RTS %d",
                state.baudRate, state.dataBits, static_cast<int>(state.parity),
                static_cast<int>(state.stopBits), static_cast<int>(state.flow), state.dtrEnabled,
                state.rtsEnabled);
  return text;
}

std::string Text(const uint8_t* bytes, uint32_t count) {
  return std::string(reinterpret_cast<const char*>(bytes), count);
}

enum class Before { kPurge, kNothing };

// Sends a command, after purging both directions as the drivers' write with
// purge does or straight away, and gives the module time to answer.
void Ask(Checks& checks, Device& device, const char* command, Before before = Before::kPurge) {
  if (before == Before::kPurge)
    checks.Expect(device.Purge(tarvo::serial::kPurgeAll), std::string("Purge before ") + command);
  checks.Expect(device.Write(reinterpret_cast<const uint8_t*>(command), 5, 500),
                std::string("Write ") + command);
  Sleep(kAnswerMs);
}

uint32_t Queued(Checks& checks, Device& device, const std::string& what) {
  uint32_t queued = 12345;
  checks.Expect(device.ClearError(&queued), "ClearError " + what);
  return queued;
}

// Reads count bytes into a buffer of sentinels; the bytes beyond count must
// stay untouched.
std::string ReadExactly(Checks& checks, Device& device, uint32_t count, const std::string& what) {
  uint8_t buffer[64];
  std::memset(buffer, kUntouched, sizeof buffer);
  uint32_t got = 12345;
  checks.Expect(device.Read(buffer, count, &got, 500), "Read " + what);
  checks.ExpectEqual(got, count, "bytes read " + what);
  if (got > count) got = count;
  bool untouched = true;
  for (size_t i = count; i < sizeof buffer; ++i) untouched = untouched && buffer[i] == kUntouched;
  checks.Expect(untouched, "nothing written past the bytes asked for " + what);
  return Text(buffer, got);
}

void ExpectConfigured(Checks& checks, Device& device) {
  tarvo::serial::LineTimeouts timeouts;
  timeouts.readInterval = tarvo::serial::kMaxTimeout;
  timeouts.readTotalMultiplier = tarvo::serial::kMaxTimeout;
  timeouts.readTotalConstant = 500;
  timeouts.writeTotalConstant = 500;
  checks.Expect(device.SetTimeouts(timeouts), "SetTimeouts");

  tarvo::serial::LineState state;
  checks.Expect(device.GetState(&state), "GetState");
  state.dtrEnabled = true;
  state.rtsEnabled = true;
  // A pseudo-terminal keeps 8 data bits and no parity whatever it is
  // told (the kernel's rule), so only the rate and the stop bits change.
  checks.Expect(device.BuildState("COM5:19200,n,8,2,", &state), "BuildState");
  checks.ExpectEqual(state.baudRate, 19200, "rate built");
  checks.ExpectEqual(static_cast<long long>(state.stopBits),
                     static_cast<long long>(tarvo::serial::StopBits::Two), "stop bits built");
  checks.Expect(device.SetState(state), "SetState 19200,n,8,2");
  tarvo::serial::LineState applied;
  checks.Expect(device.GetState(&applied), "GetState after SetState");
  checks.Expect(applied == state, "the device reports the settings applied: " + Describe(applied) +
                                      ", applied " + Describe(state));

  // Back to what the module speaks.
  checks.Expect(device.BuildState("COM5:9600,n,8,1,", &state), "BuildState 9600,n,8,1");
  checks.Expect(device.SetState(state), "SetState 9600,n,8,1");
  checks.Expect(device.GetState(&applied) && applied == state, "9600,n,8,1 applied");
  checks.ExpectEqual(static_cast<long long>(applied.parity),
                     static_cast<long long>(tarvo::serial::Parity::None), "parity none");
  checks.ExpectEqual(applied.dataBits, 8, "8 data bits");
  checks.Expect(applied.dtrEnabled && applied.rtsEnabled, "DTR and RTS raised");
  checks.Expect(device.SetupQueues(300, 300), "SetupQueues");
}

void ExpectTransfers(Checks& checks, Device& device) {
  // Nothing queued: a read of 0 bytes succeeds at once.
  checks.ExpectEqual(Queued(checks, device, "of an idle line"), 0, "queued on an idle line");
  uint8_t byte = kUntouched;
  uint32_t got = 12345;
  checks.Expect(device.Read(&byte, 0, &got, 500), "Read of 0 bytes");
  checks.ExpectEqual(got, 0, "bytes read of 0");

  // The whole reply, exactly as queued; its data byte is a CR.
  Ask(checks, device, "#020\r");
  checks.ExpectEqual(Queued(checks, device, "after #020"), 5, "queued after #020");
  checks.ExpectEqual(ReadExactly(checks, device, 5, "of the inputs reply"), ">02\r\r",
                     "inputs reply");
  checks.ExpectEqual(Queued(checks, device, "after reading it"), 0, "queued after reading it");

  // Part of a reply: the rest stays queued for the next read.
  Ask(checks, device, "#022\r");
  checks.ExpectEqual(Queued(checks, device, "after #022"), 17, "queued after #022");
  checks.ExpectEqual(ReadExactly(checks, device, 3, "of its head"), ">02", "numeric reply head");
  checks.ExpectEqual(Queued(checks, device, "after its head"), 14, "queued after its head");
  checks.ExpectEqual(ReadExactly(checks, device, 14, "of its rest"), "2,23.45, -1.5\r",
                     "numeric reply rest");

  // A read that waits for bytes that do not come fails after its time-out
  // and returns only once the transfer is cancelled: the reply that arrives
  // afterwards (no purge in between, which would abort a read left pending)
  // neither lands in that buffer nor is lost.
  uint8_t buffer[16];
  std::memset(buffer, kUntouched, sizeof buffer);
  got = 12345;
  const ULONGLONG start = GetTickCount64();
  checks.Expect(!device.Read(buffer, 8, &got, 150), "Read with nothing to come fails");
  const ULONGLONG took = GetTickCount64() - start;
  checks.Expect(took >= 140 && took < 450,
                "the failed read took its time-out (" + std::to_string(took) + " ms)");
  checks.ExpectEqual(got, 12345, "a failed read leaves the count alone");
  Ask(checks, device, "#020\r", Before::kNothing);
  bool untouched = true;
  for (uint8_t b : buffer) untouched = untouched && b == kUntouched;
  checks.Expect(untouched, "the cancelled read's buffer stays untouched");
  checks.ExpectEqual(Queued(checks, device, "after the cancelled read"), 5,
                     "the next reply is queued whole");
  checks.ExpectEqual(ReadExactly(checks, device, 5, "after the cancelled read"), ">02\r\r",
                     "the next reply");

  // A purge of the input drops a reply nobody read.
  Ask(checks, device, "#020\r");
  checks.Expect(device.Purge(tarvo::serial::kPurgeReceive), "Purge of the input");
  checks.ExpectEqual(Queued(checks, device, "after the purge"), 0, "queued after the purge");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: win32_device_test PORT-NUMBER\n");
    return 2;
  }
  Checks checks;
  const std::string name = "\\\\.\\COM" + std::to_string(_wtoi(argv[1]));
  std::unique_ptr<Device> device = tarvo::serial::Win32Device::Open(name);
  checks.Expect(device != nullptr, "Open " + name);
  if (device != nullptr) {
    ExpectConfigured(checks, *device);
    ExpectTransfers(checks, *device);
    device->Close();
  }
  return checks.Finish();
}
