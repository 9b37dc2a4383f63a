// A host reads every register kind of a simulated pxr5100 module over a
// pseudo-terminal, through the loaded library, in real time.
#include <chrono>
#include <string>
#include <thread>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "sim/bus.h"
#include "sim/pty_server.h"
#include "sim/pxr5100/module.h"
#include "support/host_port.h"
#include "tools/common/driver_library.h"

namespace tarvo {
namespace {

constexpr int32_t kPort = 7;

TEST(Pxr5100Host, ReadsEveryKindFromTheSimulator) {
  tools::DriverLibrary library(TARVO_LIBRARY_PATH);
  ASSERT_TRUE(library.ok()) << library.error();

  sim::Bus bus;
  auto& module = bus.Emplace<sim::Pxr5100Module>(12);
  // One record per point; kinds on separate bytes share a record.
  module.SetValues(1, 0, {.ta = 23.5});
  module.SetValues(1, 3, {.tb = -10.125, .ua = 18.25});
  module.SetValues(1, 7, {.wa = 21.5, .wb = 46.7});
  module.SetValues(1, 9, {.ub = 12.5});
  module.SetValues(1, 63, {.wm = 123.45});
  sim::PtyPair pty;
  sim::PtyServer server(pty, bus.Peer());
  ASSERT_EQ(library.SetPortDevice(kPort, pty.slavePath().c_str()), 1);

  IIoDriver* driver = library.Create(CLSID_Cpxr5100);
  ASSERT_NE(driver, nullptr);
  test::HostPort port(kPort, 100);
  ASSERT_EQ(driver->OpenPort(&port.config), 1) << driver->GetErrorText();
  const auto constructed = std::chrono::steady_clock::now();

  struct Case {
    const char* address;
    float value;
    float tolerance;
  };
  const Case cases[] = {
      {"TA12.1.0", 23.5f, 0.0f},    {"TB12.1.3", -10.125f, 0.0f}, {"UA12.1.3", 18.25f, 0.0f},
      {"WA12.1.7", 21.5f, 0.0f},    {"WB12.1.7", 46.7f, 0.1f},    {"UB12.1.9", 12.5f, 0.0f},
      {"WM12.1.63", 123.45f, 0.0f},
  };
  IoItem items[std::size(cases)] = {};
  for (size_t i = 0; i < std::size(cases); ++i) {
    items[i].DataType = kDataTypeFloat;
    ASSERT_EQ(driver->ParseItem(cases[i].address, &items[i]), 1) << cases[i].address;
  }

  // The first read, of a point without a sensor, discovers the sensors.
  // The gate opens 2 whole seconds of the clock after construction: between
  // 1 and 2 real seconds, so the discovery may or may not have taken that
  // long, and the read fails with 23 (no block read) or 22 (no sensor).
  IoItem empty{};
  empty.DataType = kDataTypeFloat;
  ASSERT_EQ(driver->ParseItem("TA12.1.1", &empty), 1);
  IoValue value{};
  EXPECT_EQ(driver->ReadItem(0, &empty, &value), 0);
  const std::string code = driver->GetErrorText();
  EXPECT_TRUE(code == ErrorText(ErrDelayNotElapsed) || code == ErrorText(ErrReadData));
  std::this_thread::sleep_until(constructed + std::chrono::milliseconds(2100));
  for (size_t i = 0; i < std::size(cases); ++i) {
    value.AnalogValue = -999.0f;
    ASSERT_EQ(driver->ReadItem(0, &items[i], &value), 1)
        << cases[i].address << ": " << driver->GetErrorText();
    EXPECT_NEAR(value.AnalogValue, cases[i].value, cases[i].tolerance) << cases[i].address;
  }
  // Eight scan commands and one block read of channel 1 served them all.
  EXPECT_EQ(bus.log().Count("*0c"), 8u);
  EXPECT_EQ(bus.log().Commands().back(), "#0c1\r");
  EXPECT_EQ(bus.log().Count("#"), 1u);

  EXPECT_EQ(driver->ClosePort(0), 1);
  EXPECT_EQ(driver->Release(), 0u);
  EXPECT_EQ(library.SetPortDevice(kPort, nullptr), 1);
}

}  // namespace
}  // namespace tarvo
