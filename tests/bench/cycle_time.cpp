// pxr-cycle-time: the time one poll of one module takes, per family, over a
// pseudo-terminal whose simulated modules pace their answers at a baud
// rate; with and without early replies. Loads the library as a host does
// (dlopen, the class factories, IIoDriver) and serves the simulator's
// modules as pxrsim does.
//
// Usage: pxr-cycle-time BAUD [POLLS]
// Prints one line per family and mode: the median and range of the polls'
// exchange times in ms. Each poll reads items that need one exchange; the
// polls are spaced so that every refresh gate is open. The library is
// TARVO_LIBRARY when set, else the one built beside the tool.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "sim/bus.h"
#include "sim/pty_pair.h"
#include "sim/pty_server.h"
#include "sim/pxr5100/module.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"
#include "tarvo/guids.h"
#include "tools/common/driver_library.h"
#include "tools/common/error_glosses.h"
#include "tools/common/gbk.h"
#include "tools/plant/line_options.h"

#ifndef TARVO_DEFAULT_LIBRARY
#define TARVO_DEFAULT_LIBRARY "libtarvo.so"
#endif

namespace {

using namespace tarvo;

using Clock = std::chrono::steady_clock;
constexpr int32_t kPort = 200;

struct Family {
  const char* name;
  const CLSID* clsid;
  std::function<void(sim::Bus&)> plant;
  std::vector<std::string> items;  // read by one poll
  double gapSeconds;               // between polls: lets every refresh gate open
};

// Reads every item once; reports the reads that fail.
void Poll(IIoDriver& driver, const std::vector<std::string>& items) {
  for (const std::string& address : items) {
    IoItem item{};
    item.DataType = address[0] == 'D' ? kDataTypeDiscrete : kDataTypeFloat;
    driver.ParseItem(address.c_str(), &item);
    IoValue value{};
    if (driver.ReadItem(0, &item, &value) != 1)
      std::fprintf(stderr, "%s: %s\n", address.c_str(),
                   tools::ExplainError(tools::GbkToUtf8(driver.GetErrorText())).Display().c_str());
  }
}

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: pxr-cycle-time BAUD [POLLS]\n");
    return 2;
  }
  const int baud = std::atoi(argv[1]);
  const int polls = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::optional<uint32_t> baudCode = tools::BaudCode(baud);
  if (!baudCode || polls < 1) return 2;
  const char* path = std::getenv("TARVO_LIBRARY");
  const tools::DriverLibrary library(path != nullptr && *path != '\0' ? path
                                                                      : TARVO_DEFAULT_LIBRARY);
  if (!library.ok()) {
    std::fprintf(stderr, "pxr-cycle-time: %s\n", library.error().c_str());
    return 1;
  }

  const Family families[] = {
      {"pxr5100",
       &CLSID_Cpxr5100,
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5100Module>(1);
         for (int p = 0; p < 5; ++p) m.SetValues(0, p, {.ta = 20.0 + p});
       },
       {"TA1.0.0"},
       2.1},
      {"pxr5303",
       &CLSID_CPxr5303,
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5303Module>(2);
         for (int c = 0; c < 3; ++c)
           for (int p = 0; p < 4; ++p) m.SetRecord(c, p, {uint8_t(p), 0x00, 0x0C, 0x10});
       },
       {"TA2.0.0"},
       2.1},
      {"pxr530x",
       &CLSID_CPxr530x,
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr530xModule>(3);
         for (int c = 0; c < 8; ++c)
           for (int p = 0; p < 2; ++p) m.SetRecord(c, p, {0x32, 0x00, 0x0C, 0x10});
       },
       {"TA3.0.0"},
       0.0},
      {"pxr5700",
       &CLSID_Cpxr5700,
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5700Module>(4);
         m.SetInputs(0x5A);
         m.SetTemperatureRecord(1, {0x32, 0x00, 0x0C, 0x10});
         m.SetTemperatureRecord(2, {0x32, 0x00, 0x0C, 0x10});
         m.SetNumericText(1, "12.50");
         m.SetNumericText(2, "-3.25");
       },
       {"DI4.0", "TA4.1", "WI4.1"},
       0.0},
      {"pxr5760",
       &CLSID_CPxr5760,
       [](sim::Bus& bus) {
         auto& m = bus.Emplace<sim::Pxr5760Module>(5);
         for (int c = 0; c < 8; ++c)
           for (int p = 0; p < 4; ++p) m.SetRecord(c, p, {0x32, 0x00, 0x00, 0x10});
       },
       {"TA5.0.0"},
       2.1},
  };

  for (const Family& family : families) {
    for (const bool early : {false, true}) {
      sim::PtyPair pty;
      sim::Bus bus;
      family.plant(bus);
      sim::PtyServer server(pty, bus.Peer(), {.baud = baud});
      library.SetPortDevice(kPort, pty.slavePath().c_str());
      LineSettings settings{};
      settings.PortIndex = kPort - 1;
      settings.BaudCode = *baudCode;
      settings.DataBitsCode = 1;
      settings.ParityCode = 2;
      settings.LineTimeout = 300;
      PortConfig config{};
      config.Settings = &settings;
      std::snprintf(config.TimeoutText, sizeof config.TimeoutText, "300%s", early ? ",early" : "");
      HRESULT created = S_OK;
      IIoDriver* driver = library.Create(*family.clsid, &created);
      if (driver == nullptr || driver->OpenPort(&config) != 1) {
        std::fprintf(stderr, "%s: cannot open the port\n", family.name);
        return 1;
      }

      // The first poll scans (and may meet a shut gate): not counted.
      const auto scanStart = Clock::now();
      Poll(*driver, family.items);
      const double scanMs = MsSince(scanStart);
      std::vector<double> times;
      for (int i = 0; i < polls; ++i) {
        std::this_thread::sleep_for(std::chrono::duration<double>(family.gapSeconds));
        const auto start = Clock::now();
        Poll(*driver, family.items);
        times.push_back(MsSince(start));
      }
      driver->ClosePort(0);
      driver->Release();
      std::sort(times.begin(), times.end());
      std::printf("%-8s %6d baud %-7s first poll %8.1f ms, poll median %8.1f ms (%.1f .. %.1f)\n",
                  family.name, baud, early ? "early" : "default", scanMs, times[times.size() / 2],
                  times.front(), times.back());
      std::fflush(stdout);
    }
  }
  return 0;
}
