// The cost of one exchange as a host feels it: a ReadItem that performs one
// block read (one command, one answer) against the simulator on a
// pseudo-terminal, in real time, through the IIoDriver vtable. The wall
// time minus the waits the exchange prescribes is our overhead; the CPU
// time (user + system) of the calling thread is what the exchange costs.
// Before each exchange the same waits are slept with no line ("sleep cpu"):
// "beyond" is the exchange's CPU time less that, the driver's own share
// with its system calls.
//
// Prescribed waits with a time-out of T ms: pxr5100 2 T (a settle and the
// read's own sleep); pxr5303 and pxr5760 T; pxr530x 10000 ms + T; pxr5700
// T (at least 100 ms). The simulator sends each answer whole as soon as the
// command is in (no baud pacing), so the figure holds no wire time.
// With "early" the port asks for early replies ("100,early"): the exchange
// then prescribes no wait but the pxr530x's 10000 ms, and the overhead is
// the time from the call to the whole answer, taken.
//
// Usage: tarvo_exchange_overhead [samples] [pxr530x samples] [early]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/full_rig.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "support/host_port.h"

namespace tarvo::bench {
namespace {

constexpr int32_t kPort = 200;
constexpr int32_t kTimeoutMs = 100;
constexpr int kModule = 5;

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The CPU time the calling thread spends on the prescribed sleeps alone,
// with no line: what the machine charges for going to sleep and waking up
// (tens to hundreds of microseconds on a virtual machine), not the driver.
double SleepsCpuUs(const std::vector<int>& sleepsMs) {
  const double before = ThreadCpuSeconds();
  for (int ms : sleepsMs) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  return (ThreadCpuSeconds() - before) * 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

struct Plan {
  Family family;
  const char* address;        // read again and again; each read needs a block read
  std::vector<int> sleepsMs;  // the waits the exchange prescribes, in order
  bool gated;                 // at most one block read per module every 2 whole seconds

  double PrescribedMs() const {
    double total = 0;
    for (int ms : sleepsMs) total += ms;
    return total;
  }
};

// Returns false when a read failed.
bool Measure(const Plan& plan, int samples, const std::string& timeoutText) {
  sim::Bus bus;
  AddFullModule(bus, plan.family, kModule);
  sim::PtyPair pty;
  sim::PtyServer server(pty, bus.Peer());
  if (TarvoSetPortDevice(kPort, pty.slavePath().c_str()) != 1) {
    std::fprintf(stderr, "cannot map the port to %s\n", pty.slavePath().c_str());
    return false;
  }
  IIoDriver* driver = test::CreateDriver(*Spec(plan.family).clsid);
  test::HostPort port(kPort, timeoutText);
  bool ok = driver != nullptr && driver->OpenPort(&port.config) == 1;
  IoItem item{};
  item.DataType = plan.family == Family::kPxr5700 ? kDataTypeDiscrete : kDataTypeFloat;
  ok = ok && driver->ParseItem(plan.address, &item) == 1;
  if (ok) {
    // The first read scans the module; the gate then needs its 2 seconds.
    IoValue value{};
    driver->ReadItem(0, &item, &value);
  }
  std::vector<double> overheadMs;
  std::vector<double> cpuUs;
  std::vector<double> sleepCpuUs;
  std::vector<double> beyondUs;
  for (int i = 0; ok && i < samples; ++i) {
    const auto gateStart = std::chrono::steady_clock::now();
    const double sleepCpu = SleepsCpuUs(plan.sleepsMs);
    if (plan.gated) std::this_thread::sleep_until(gateStart + std::chrono::milliseconds(2100));
    IoItem copy = item;
    IoValue value{};
    const size_t commands = bus.log().Count("#");
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = driver->ReadItem(0, &copy, &value);
    const auto stop = std::chrono::steady_clock::now();
    const double cpuAfter = ThreadCpuSeconds();
    if (result != 1 || bus.log().Count("#") != commands + 1) {
      std::fprintf(stderr, "%s: the read did not perform one block read (result %d, %s)\n",
                   Spec(plan.family).name, result, driver->GetErrorText());
      ok = false;
      break;
    }
    overheadMs.push_back(std::chrono::duration<double, std::milli>(stop - start).count() -
                         plan.PrescribedMs());
    cpuUs.push_back((cpuAfter - cpuBefore) * 1e6);
    sleepCpuUs.push_back(sleepCpu);
    beyondUs.push_back(cpuUs.back() - sleepCpu);
  }
  if (driver != nullptr) {
    driver->ClosePort(0);
    driver->Release();
  }
  TarvoSetPortDevice(kPort, nullptr);
  if (!ok) return false;
  std::printf(
      "%-8s  %7.0f ms  %6d  %8.3f ms  %8.3f ms  %8.3f ms  %7.0f us  %7.0f us  %7.0f us  %7.0f us\n",
      Spec(plan.family).name, plan.PrescribedMs(), samples, Median(overheadMs),
      *std::min_element(overheadMs.begin(), overheadMs.end()),
      *std::max_element(overheadMs.begin(), overheadMs.end()), Median(cpuUs),
      *std::max_element(cpuUs.begin(), cpuUs.end()), Median(sleepCpuUs), Median(beyondUs));
  std::fflush(stdout);
  return true;
}

}  // namespace
}  // namespace tarvo::bench

int main(int argc, char** argv) {
  using namespace tarvo::bench;
  const int samples = argc > 1 ? std::atoi(argv[1]) : 5;
  const int slowSamples = argc > 2 ? std::atoi(argv[2]) : 3;
  const bool early = argc > 3 && std::strcmp(argv[3], "early") == 0;
  // Early replies wait for the answer only, however long the time-out.
  const int readMs = early ? 0 : kTimeoutMs;
  const Plan plans[] = {
      {Family::kPxr5100, "TA5.0.0", {readMs, readMs}, true},
      {Family::kPxr5303, "TA5.0.0", {readMs}, true},
      {Family::kPxr530x, "TA5.0.0", {10000, readMs}, false},
      {Family::kPxr5700, "DI5.0", {readMs}, false},
      {Family::kPxr5760, "TA5.0.0", {readMs}, true},
  };
  const std::string timeoutText = std::to_string(kTimeoutMs) + (early ? ",early" : "");
  std::printf("exchange overhead: one block read per sample, time-out %s ms\n",
              timeoutText.c_str());
  std::printf("%-8s  %10s  %6s  %11s  %11s  %11s  %10s  %10s  %10s  %10s\n", "family", "prescribed",
              "runs", "overhead", "min", "max", "cpu", "cpu max", "sleep cpu", "beyond");
  bool ok = true;
  for (const Plan& plan : plans)
    ok = Measure(plan, plan.family == Family::kPxr530x ? slowSamples : samples, timeoutText) && ok;
  return ok ? 0 : 1;
}
