// pxr-cycle-time: the time one poll of one module takes, per family, over a
// pseudo-terminal whose simulated modules pace their answers at a baud
// rate; with and without early replies. Uses the drivers and the POSIX line
// as the library does, and the simulator's modules as pxrsim does.
//
// Usage: pxr-cycle-time BAUD [POLLS]
// Prints one line per family and mode: the median and range of the polls'
// exchange times in ms. Each poll reads items that need one exchange; the
// polls are spaced so that every refresh gate is open.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "pxr5100/pxr5100.h"
#include "pxr530x/pxr5303.h"
#include "pxr530x/pxr530x.h"
#include "pxr5700/pxr5700.h"
#include "pxr5760/pxr5760.h"
#include "serial/device.h"
#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr5100/module.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"

namespace {

using namespace tarvo;

using Clock = std::chrono::steady_clock;
constexpr int32_t kPort = 200;

int32_t BaudCode(int baud) {
  const int rates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                       19200, 38400, 56000, 57600, 115200, 128000, 256000};
  for (int32_t i = 0; i < 15; ++i)
    if (rates[i] == baud) return i;
  return -1;
}

struct Family {
  const char* name;
  std::function<void(sim::Bus&)> plant;
  // Opens a driver object with config and returns the reader of one poll.
  std::function<std::function<void()>(PortConfig*)> open;
  double gapSeconds;  // between polls: lets every refresh gate open
};

template <class Driver>
std::function<std::function<void()>(PortConfig*)> Reader(std::vector<std::string> items) {
  return [items](PortConfig* config) -> std::function<void()> {
    auto driver = std::make_shared<Driver>();
    if (driver->OpenPort(config) != 1) {
      std::fprintf(stderr, "cannot open the port\n");
      std::exit(1);
    }
    return [driver, items] {
      for (const std::string& address : items) {
        IoItem item{};
        item.DataType = address[0] == 'D' ? kDataTypeDiscrete : kDataTypeFloat;
        driver->ParseItem(address.c_str(), &item);
        IoValue value{};
        if (driver->ReadItem(&item, &value) != 1)
          std::fprintf(stderr, "%s: code %d\n", address.c_str(), driver->ErrorCode());
      }
    };
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pxr-cycle-time BAUD [POLLS]\n");
    return 2;
  }
  const int baud = std::atoi(argv[1]);
  const int polls = argc > 2 ? std::atoi(argv[2]) : 5;
  if (BaudCode(baud) < 0 || polls < 1) return 2;

  const Family families[] = {
      {"pxr5100",
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5100Module>(1);
         for (int p = 0; p < 5; ++p) m.SetValues(0, p, {.ta = 20.0 + p});
       },
       Reader<Cpxr5100>({"TA1.0.0"}), 2.1},
      {"pxr5303",
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5303Module>(2);
         for (int c = 0; c < 3; ++c)
           for (int p = 0; p < 4; ++p) m.SetRecord(c, p, {uint8_t(p), 0x00, 0x0C, 0x10});
       },
       Reader<CPxr5303>({"TA2.0.0"}), 2.1},
      {"pxr530x",
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr530xModule>(3);
         for (int c = 0; c < 8; ++c)
           for (int p = 0; p < 2; ++p) m.SetRecord(c, p, {0x32, 0x00, 0x0C, 0x10});
       },
       Reader<CPxr530x>({"TA3.0.0"}), 0.0},
      {"pxr5700",
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5700Module>(4);
         m.SetInputs(0x5A);
         m.SetTemperatureRecord(1, {0x32, 0x00, 0x0C, 0x10});
         m.SetTemperatureRecord(2, {0x32, 0x00, 0x0C, 0x10});
         m.SetNumericText(1, "12.50");
         m.SetNumericText(2, "-3.25");
       },
       Reader<Cpxr5700>({"DI4.0", "TA4.1", "WI4.1"}), 0.0},
      {"pxr5760",
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5760Module>(5);
         for (int c = 0; c < 8; ++c)
           for (int p = 0; p < 4; ++p) m.SetRecord(c, p, {0x32, 0x00, 0x00, 0x10});
       },
       Reader<CPxr5760>({"TA5.0.0"}), 2.1},
  };

  for (const Family& family : families) {
    for (const bool early : {false, true}) {
      sim::PtyPair pty;
      sim::Bus bus;
      family.plant(bus);
      sim::PtyServer server(pty, bus.Peer(), {.baud = baud});
      serial::SetPortDevice(kPort, pty.slavePath().c_str());
      LineSettings settings{};
      settings.PortIndex = kPort - 1;
      settings.BaudCode = BaudCode(baud);
      settings.DataBitsCode = 1;
      settings.ParityCode = 2;
      settings.LineTimeout = 300;
      PortConfig config{};
      config.Settings = &settings;
      std::snprintf(config.TimeoutText, sizeof config.TimeoutText, "300%s", early ? ",early" : "");
      const std::function<void()> poll = family.open(&config);

      // The first poll scans (and may meet a shut gate): not counted.
      const auto scanStart = Clock::now();
      poll();
      const double scanMs =
          std::chrono::duration<double, std::milli>(Clock::now() - scanStart).count();
      std::vector<double> times;
      for (int i = 0; i < polls; ++i) {
        std::this_thread::sleep_for(std::chrono::duration<double>(family.gapSeconds));
        const auto start = Clock::now();
        poll();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
      }
      std::sort(times.begin(), times.end());
      std::printf("%-8s %6d baud %-7s first poll %8.1f ms, poll median %8.1f ms (%.1f .. %.1f)\n",
                  family.name, baud, early ? "early" : "default", scanMs, times[times.size() / 2],
                  times.front(), times.back());
      std::fflush(stdout);
    }
  }
  return 0;
}
