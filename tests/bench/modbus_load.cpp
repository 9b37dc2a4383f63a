// tarvo-modbus-load: Modbus TCP clients polling a gateway at a steady
// rate, each request timed; prints the response times (p50, p99, max),
// the failures and, given the gateway's pid, the CPU it used meanwhile
// (the figures of docs/performance.md).
//   tarvo-modbus-load PORT [CLIENTS [REGISTERS [PER_SECOND [SECONDS [PID]]]]]
// defaults: 8 clients, 100 input registers from 0 of unit 1, 10 a second, 60 s.
#include <modbus/modbus.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// The process's user and system time, in clock ticks.
long CpuTicks(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stol(field);
    if (i == 15) stime = std::stol(field);
  }
  return utime + stime;
}

double Percentile(const std::vector<double>& sorted, double p) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: tarvo-modbus-load PORT [CLIENTS [REGISTERS [PER_SECOND [SECONDS "
                 "[PID]]]]]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const int clients = argc > 2 ? std::atoi(argv[2]) : 8;
  const int registers = argc > 3 ? std::atoi(argv[3]) : 100;
  const int perSecond = argc > 4 ? std::atoi(argv[4]) : 10;
  const int seconds = argc > 5 ? std::atoi(argv[5]) : 60;
  const int pid = argc > 6 ? std::atoi(argv[6]) : 0;

  std::mutex mutex;
  std::vector<double> times;  // ms
  std::atomic<int> failures = 0;
  const long ticksBefore = pid != 0 ? CpuTicks(pid) : 0;
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + std::chrono::seconds(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&, c] {
      modbus_t* context = modbus_new_tcp("127.0.0.1", port);
      modbus_set_slave(context, 1);
      if (modbus_connect(context) != 0) {
        ++failures;
        modbus_free(context);
        return;
      }
      std::vector<uint16_t> words(static_cast<size_t>(registers));
      std::vector<double> mine;
      const auto period = std::chrono::microseconds(1000000 / perSecond);
      // Spread over the period, as independent clients would be.
      Clock::time_point next = start + period * c / clients;
      while (next < end) {
        std::this_thread::sleep_until(next);
        const Clock::time_point asked = Clock::now();
        if (modbus_read_input_registers(context, 0, registers, words.data()) != registers)
          ++failures;
        else
          mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
        next += period;
      }
      modbus_close(context);
      modbus_free(context);
      const std::lock_guard lock(mutex);
      times.insert(times.end(), mine.begin(), mine.end());
    });
  for (std::thread& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::sort(times.begin(), times.end());
  std::printf("%d clients, %d registers, %d/s each, %.0f s: %zu answers, %d failures\n", clients,
              registers, perSecond, elapsed, times.size(), failures.load());
  std::printf("response time ms: p50 %.3f  p99 %.3f  max %.3f\n", Percentile(times, 0.5),
              Percentile(times, 0.99), times.empty() ? 0 : times.back());
  if (pid != 0)
    std::printf("gateway CPU: %.1f %% of one core\n",
                100.0 * static_cast<double>(CpuTicks(pid) - ticksBefore) /
                    static_cast<double>(sysconf(_SC_CLK_TCK)) / elapsed);
  return failures == 0 ? 0 : 1;
}
