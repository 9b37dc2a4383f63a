// Opening, adopting and closing lines on fake devices.
#include <cstdint>
#include <cstring>
#include <set>
#include <string>

#include "driver/driver_base.h"
#include "gtest/gtest.h"
#include "serial/port.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::serial {
namespace {

using test::FakeOp;

struct Host : test::HostPort {
  explicit Host(int16_t portIndex = 0, const char* timeout = "250")
      : HostPort(portIndex + 1, timeout) {
    settings.RtsDtrMode = 3;
  }
  uintptr_t token() const { return reinterpret_cast<uintptr_t>(config.SharedHandle); }
};

TEST(PortOpen, OpensAndConfiguresTheDevice) {
  test::FakeSerial serial;
  Host host;
  Port port;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Timeout(), 250);
  EXPECT_EQ(port.PortNumber(), 1);
  EXPECT_EQ(port.BaudRate(), 9600);
  EXPECT_EQ(port.LineMode(), 3);

  const test::FakeLine& line = serial.line(1);
  EXPECT_EQ(line.opens(), 1);
  const LineTimeouts expectedTimeouts{kMaxTimeout, kMaxTimeout, 500, 0, 500};
  EXPECT_EQ(line.timeouts(), expectedTimeouts);
  EXPECT_EQ(port.Timeouts(), expectedTimeouts);
  ASSERT_EQ(line.modes().size(), 1u);
  EXPECT_EQ(line.modes()[0], "COM1:9600,n,8,1,");
  LineState applied;
  applied.baudRate = 9600;
  applied.dataBits = 8;
  applied.parity = Parity::None;
  applied.stopBits = StopBits::One;
  applied.dtrEnabled = true;
  applied.rtsEnabled = true;
  EXPECT_EQ(line.deviceState(), applied);
  EXPECT_EQ(port.State(), applied);
  EXPECT_EQ(line.inputQueueSize(), 300u);
  EXPECT_NE(host.token(), 0u);
}

TEST(PortOpen, BuildsTheModeStringFromTheHostsCodes) {
  struct Case {
    int16_t portIndex;
    uint32_t baudCode;
    int16_t parity, dataBits, stopBits;
    const char* mode;
  };
  const Case cases[] = {
      {0, 6, 2, 1, 0, "COM1:9600,n,8,1,"},   {2, 12, 1, 0, 1, "COM3:115200,e,7,2,"},
      {0, 6, 5, 1, 0, "COM1:9600,"},         {0, 6, -1, 1, 0, "COM1:9600,"},
      {0, 6, 2, 1, 2, "COM1:9600,n,8,"},     {0, 6, 2, 2, 0, "COM1:9600,n,"},
      {0, 6, 2, -1, 1, "COM1:9600,n,"},      {0, 0, 0, 0, 0, "COM1:110,o,7,1,"},
      {9, 7, 3, 1, 1, "COM10:14400,m,8,2,"}, {254, 14, 4, 1, 0, "COM255:256000,s,8,1,"},
      {0, 10, 2, 1, 0, "COM1:56000,n,8,1,"}, {0, 13, 2, 1, 0, "COM1:128000,n,8,1,"},
  };
  for (const Case& c : cases) {
    test::FakeSerial serial;
    Host host(c.portIndex);
    host.settings.BaudCode = c.baudCode;
    host.settings.ParityCode = c.parity;
    host.settings.DataBitsCode = c.dataBits;
    host.settings.StopBitsCode = c.stopBits;
    Port port;
    EXPECT_EQ(OpenError(port.Open(&host.config)), ErrOk) << c.mode;
    const auto& modes = serial.line(c.portIndex + 1).modes();
    ASSERT_EQ(modes.size(), 1u) << c.mode;
    EXPECT_EQ(modes[0], c.mode);
    port.Close();
  }
}

TEST(PortOpen, ShortenedSettingsKeepWhatTheDeviceHad) {
  test::FakeSerial serial;
  LineState before;
  before.baudRate = 1200;
  before.dataBits = 7;
  before.parity = Parity::Even;
  before.stopBits = StopBits::Two;
  serial.line(1).SetDeviceState(before);
  Host host;
  host.settings.ParityCode = 7;  // "COM1:9600,": the rate alone
  Port port;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  const LineState& applied = serial.line(1).deviceState();
  EXPECT_EQ(applied.baudRate, 9600u);
  EXPECT_EQ(applied.dataBits, 7);
  EXPECT_EQ(applied.parity, Parity::Even);
  EXPECT_EQ(applied.stopBits, StopBits::Two);
  port.Close();
}

TEST(PortOpen, AnUnknownBaudCodeKeepsTheRateItHad) {
  test::FakeSerial serial;
  Host host;
  host.settings.BaudCode = 15;
  Port port;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  EXPECT_EQ(port.BaudRate(), 9600);  // a fresh object's rate
  EXPECT_EQ(serial.line(1).modes().back(), "COM1:9600,n,8,1,");
  port.Close();

  host.settings.BaudCode = 12;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  port.Close();
  host.config.SharedHandle = nullptr;
  host.settings.BaudCode = 0xFFFFFFFFu;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  EXPECT_EQ(port.BaudRate(), 115200);
  EXPECT_EQ(serial.line(1).modes().back(), "COM1:115200,n,8,1,");
  port.Close();
}

TEST(PortOpen, AdoptsTheLineAPortConfigAlreadyHolds) {
  test::FakeSerial serial;
  Host host;
  Port first;
  ASSERT_EQ(OpenError(first.Open(&host.config)), ErrOk);
  const uintptr_t token = host.token();

  // Settings changed after the first open do not matter any more.
  host.settings.PortIndex = 4;
  host.settings.BaudCode = 12;
  std::strcpy(host.config.TimeoutText, "1500");
  Port second;
  ASSERT_EQ(OpenError(second.Open(&host.config)), ErrOk);
  EXPECT_TRUE(second.IsOpen());
  EXPECT_EQ(second.Timeout(), 1500);  // the text counts on every open
  EXPECT_EQ(second.PortNumber(), 0);
  EXPECT_EQ(second.BaudRate(), 9600);
  EXPECT_EQ(second.Timeouts(), LineTimeouts{});
  EXPECT_EQ(host.token(), token);
  EXPECT_EQ(serial.line(1).opens(), 1);
  EXPECT_EQ(serial.line(5).opens(), 0);

  // Both objects talk over the one device.
  const uint8_t a[] = {'A'};
  const uint8_t b[] = {'B'};
  EXPECT_TRUE(first.WriteNoPurge(a, 1, 100));
  EXPECT_TRUE(second.WriteNoPurge(b, 1, 100));
  EXPECT_EQ(serial.line(1).written(), (std::vector<uint8_t>{'A', 'B'}));
  first.Close();
}

TEST(PortOpen, FailsAtEachStepWithItsCodeAndClosesTheDevice) {
  struct Case {
    FakeOp op;
    DriverError code;
  };
  const Case cases[] = {
      {FakeOp::SetTimeouts, ErrPortTimeouts},
      {FakeOp::GetState, ErrPortState},
      {FakeOp::BuildState, ErrInitPortData},
      {FakeOp::SetState, ErrRegisterLimit},
  };
  for (const Case& c : cases) {
    test::FakeSerial serial;
    test::FakeLine& line = serial.line(1);
    line.FailNext(c.op);
    Host host;
    Port port;
    EXPECT_EQ(OpenError(port.Open(&host.config)), c.code);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(line.opens(), 1);
    EXPECT_EQ(line.closes(), 1);
    EXPECT_FALSE(line.isOpen());
    EXPECT_EQ(host.config.SharedHandle, nullptr);
    EXPECT_EQ(port.Timeout(), 250);
    // Later steps never ran.
    EXPECT_EQ(line.calls(FakeOp::SetupQueues), 0);
    const uint8_t byte = 0;
    EXPECT_FALSE(port.WriteNoPurge(&byte, 1, 100));

    // The next open opens the device afresh.
    EXPECT_EQ(OpenError(port.Open(&host.config)), ErrOk);
    EXPECT_EQ(line.opens(), 2);
    EXPECT_NE(host.config.SharedHandle, nullptr);
    port.Close();
    EXPECT_EQ(line.usesAfterClose(), 0);
  }
}

TEST(PortOpen, FailsWhenTheDeviceCannotBeOpened) {
  test::FakeSerial serial;
  serial.line(1).SetMissing(true);
  Host host;
  Port port;
  EXPECT_EQ(OpenError(port.Open(&host.config)), ErrCreatePort);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(host.config.SharedHandle, nullptr);
  EXPECT_EQ(serial.line(1).calls(FakeOp::SetTimeouts), 0);

  // Port numbers run from 1 to 255.
  for (int16_t index : {-1, 255, 1000, INT16_MIN}) {
    Host other(index);
    EXPECT_EQ(OpenError(port.Open(&other.config)), ErrCreatePort) << index;
  }
  Host last(254);
  EXPECT_EQ(OpenError(port.Open(&last.config)), ErrOk);
  EXPECT_EQ(port.PortNumber(), 255);
  port.Close();

  // Without line settings there is nothing to open.
  Host bare;
  bare.config.Settings = nullptr;
  EXPECT_EQ(OpenError(port.Open(&bare.config)), ErrCreatePort);
  EXPECT_EQ(OpenError(port.Open(nullptr)), ErrCreatePort);
}

TEST(PortOpen, AFailingQueueSetupIsNoFailure) {
  test::FakeSerial serial;
  serial.line(1).FailNext(FakeOp::SetupQueues);
  Host host;
  Port port;
  EXPECT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  EXPECT_NE(host.config.SharedHandle, nullptr);
  port.Close();
}

TEST(PortOpen, ReopeningAnObjectAfterAFailureLeavesItWithoutALine) {
  test::FakeSerial serial;
  Host host;
  Port port;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  const uintptr_t token = host.token();
  Host other(1);
  serial.line(2).FailNext(FakeOp::GetState);
  EXPECT_EQ(OpenError(port.Open(&other.config)), ErrPortState);
  EXPECT_FALSE(port.IsOpen());
  // The first line is not this object's to close: it stays usable for
  // whoever adopts it.
  EXPECT_TRUE(serial.line(1).isOpen());
  Port adopter;
  ASSERT_EQ(OpenError(adopter.Open(&host.config)), ErrOk);
  EXPECT_EQ(host.token(), token);
  adopter.Close();
}

TEST(PortClose, ClosesTheLineForEveryObjectThatHoldsIt) {
  test::FakeSerial serial;
  test::FakeLine& line = serial.line(1);
  Host host;
  Port opener;
  Port adopter;
  ASSERT_EQ(OpenError(opener.Open(&host.config)), ErrOk);
  ASSERT_EQ(OpenError(adopter.Open(&host.config)), ErrOk);
  const int callsBefore = line.calls(FakeOp::Write) + line.calls(FakeOp::Read) +
                          line.calls(FakeOp::ClearError) + line.calls(FakeOp::Purge);

  opener.Close();
  EXPECT_EQ(line.closes(), 1);
  EXPECT_FALSE(opener.IsOpen());
  EXPECT_FALSE(adopter.IsOpen());

  const uint8_t command[] = {'#', '0', '1', '\r'};
  uint8_t buffer[8] = {};
  uint32_t count = 77;
  EXPECT_FALSE(adopter.Write(command, 4, 30));
  EXPECT_FALSE(adopter.WriteNoPurge(command, 4, 30));
  EXPECT_FALSE(adopter.Read(buffer, sizeof buffer, 100, &count));
  EXPECT_FALSE(adopter.ReadNoSleep(buffer, sizeof buffer, 100, &count));
  EXPECT_FALSE(adopter.ClearError());
  adopter.Purge();
  adopter.PurgeInput();
  EXPECT_EQ(count, 77u);
  // The closed device was never asked again.
  EXPECT_EQ(line.calls(FakeOp::Write) + line.calls(FakeOp::Read) + line.calls(FakeOp::ClearError) +
                line.calls(FakeOp::Purge),
            callsBefore);
  EXPECT_EQ(line.usesAfterClose(), 0);
  EXPECT_TRUE(line.writes().empty());

  // Closing the closed line again does nothing.
  adopter.Close();
  opener.Close();
  EXPECT_EQ(line.closes(), 1);
}

TEST(PortClose, AClosedLinesTokenOpensTheDeviceAfresh) {
  test::FakeSerial serial;
  Host host;
  Port port;
  ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
  const uintptr_t old = host.token();
  port.Close();

  // The host kept the old value in SharedHandle.
  Port next;
  ASSERT_EQ(OpenError(next.Open(&host.config)), ErrOk);
  EXPECT_EQ(serial.line(1).opens(), 2);
  EXPECT_NE(host.token(), old);
  EXPECT_NE(host.token(), 0u);
  EXPECT_TRUE(next.IsOpen());
  next.Close();
}

TEST(PortClose, AValueTheLibraryNeverPublishedIsNotAdopted) {
  test::FakeSerial serial;
  for (uintptr_t foreign : {uintptr_t{3}, uintptr_t{0x1234}, ~uintptr_t{0}}) {
    Host host;
    host.config.SharedHandle = reinterpret_cast<HANDLE>(foreign);
    Port port;
    ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
    EXPECT_NE(host.token(), foreign);
    EXPECT_NE(host.token(), 0u);
    port.Close();
  }
  EXPECT_EQ(serial.line(1).opens(), 3);
}

TEST(PortClose, WithoutALineDoesNothing) {
  test::FakeSerial serial;
  Port port;
  port.Close();
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(serial.line(1).opens(), 0);
}

TEST(PortClose, TokensAreNeverReused) {
  test::FakeSerial serial;
  std::set<uintptr_t> seen;
  for (int i = 0; i < 50; ++i) {
    Host host;
    Port port;
    ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
    const uintptr_t token = host.token();
    EXPECT_NE(token, 0u);
    EXPECT_LE(token, static_cast<uintptr_t>(INT32_MAX));  // fits a 32-bit handle
    EXPECT_TRUE(seen.insert(token).second) << token;
    port.Close();
  }
}

}  // namespace
}  // namespace tarvo::serial
