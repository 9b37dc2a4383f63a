// The POSIX serial layer over real pseudo-terminals, in real time: the
// module side is the pty master, driven by the test.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "driver/driver_base.h"
#include "gtest/gtest.h"
#include "serial/device.h"
#include "serial/port.h"
#include "serial/posix/posix_device.h"
#include "sim/pty_pair.h"
#include "support/host_port.h"

namespace tarvo::serial {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int32_t kPort = 9;

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

void WriteMaster(int fd, const std::string& text) {
  ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

// Reads from the master until want bytes came or timeoutMs passed.
Bytes ReadMaster(int fd, size_t want, int timeoutMs) {
  Bytes got;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (got.size() < want) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd readable{fd, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left)) <= 0) break;
    uint8_t buffer[256];
    const ssize_t n = read(fd, buffer, std::min(sizeof buffer, want - got.size()));
    if (n <= 0) break;
    got.insert(got.end(), buffer, buffer + n);
  }
  return got;
}

void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

class PtyLine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SetPortDevice(kPort, pty_.slavePath().c_str())); }
  void TearDown() override {
    port_.Close();
    SetPortDevice(kPort, nullptr);
  }

  void Open() { ASSERT_EQ(OpenError(port_.Open(&host_.config)), ErrOk); }
  bool Send(const std::string& command) {
    const Bytes bytes = Text(command);
    return port_.Write(bytes.data(), static_cast<int32_t>(bytes.size()), 100);
  }
  Bytes Receive(int32_t timeoutMs, bool sleep = true) {
    Bytes buffer(2048, 0xEE);
    uint32_t count = 0;
    const bool ok = sleep ? port_.Read(buffer.data(), buffer.size(), timeoutMs, &count)
                          : port_.ReadNoSleep(buffer.data(), buffer.size(), timeoutMs, &count);
    EXPECT_TRUE(ok);
    for (size_t i = count; i < buffer.size(); ++i) {
      if (buffer[i] != 0xEE) {
        ADD_FAILURE() << "byte " << i << " written past the count";
        break;
      }
    }
    buffer.resize(ok ? count : 0);
    return buffer;
  }
  int master() { return pty_.master(); }

  sim::PtyPair pty_;
  test::HostPort host_{kPort, "100"};
  Port port_;
};

TEST_F(PtyLine, WriteDropsStaleInputAndSendsTheCommand) {
  Open();
  WriteMaster(master(), "stale");
  Settle();
  ASSERT_TRUE(Send("#051\r"));
  EXPECT_EQ(ReadMaster(master(), 5, 1000), Text("#051\r"));
  EXPECT_EQ(Receive(100), Bytes{});

  // Without the purge, earlier input comes back in front of the reply.
  WriteMaster(master(), "old");
  Settle();
  const Bytes command = Text("$016\r");
  ASSERT_TRUE(port_.WriteNoPurge(command.data(), 5, 100));
  EXPECT_EQ(ReadMaster(master(), 5, 1000), command);
  WriteMaster(master(), "!01");
  EXPECT_EQ(Receive(100), Text("old!01"));
}

TEST_F(PtyLine, ReadTakesTheReplyAfterTheSettleTime) {
  Open();
  ASSERT_TRUE(Send("#051\r"));
  ASSERT_EQ(ReadMaster(master(), 5, 1000).size(), 5u);
  WriteMaster(master(), ">05\x01\x02\r");
  const auto start = Clock::now();
  EXPECT_EQ(Receive(100), Text(">05\x01\x02\r"));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(PtyLine, AReplyInTwoPieces) {
  Open();
  {
    // Both pieces within the settle time: one read returns the whole reply.
    std::thread module([&] {
      WriteMaster(master(), ">05AB");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      WriteMaster(master(), "CD\r");
    });
    EXPECT_EQ(Receive(300), Text(">05ABCD\r"));
    module.join();
  }
  {
    // The second piece after it: the read returns the first, the rest waits.
    std::thread module([&] {
      WriteMaster(master(), ">06AB");
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      WriteMaster(master(), "CD\r");
    });
    EXPECT_EQ(Receive(100), Text(">06AB"));
    module.join();
    Settle();
    EXPECT_EQ(Receive(100, false), Text("CD\r"));
  }
}

TEST_F(PtyLine, APeerThatNeverAnswersReadsNothingAfterOneTimeOut) {
  Open();
  ASSERT_TRUE(Send("#051\r"));
  const auto start = Clock::now();
  EXPECT_EQ(Receive(100), Bytes{});
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(100));
  EXPECT_LT(took, std::chrono::milliseconds(1000));
}

TEST_F(PtyLine, APeerThatHangsUpFailsEveryTransfer) {
  Open();
  pty_.CloseMaster();
  Settle();
  EXPECT_FALSE(Send("#051\r"));
  uint8_t buffer[16];
  uint32_t count = 99;
  EXPECT_FALSE(port_.Read(buffer, sizeof buffer, 10, &count));
  EXPECT_EQ(count, 99u);
  EXPECT_FALSE(port_.ClearError());
}

TEST_F(PtyLine, AnEarlyReplyEndsWhenItsLastByteArrives) {
  // An 8-byte answer; the whole wait is 1 s of the clock's whole ms (real
  // time may be short of it by under 1 ms). Bounds are loose: a loaded
  // machine may be late by far more than the driver.
  const ReplyRule eight = [](std::span<const uint8_t>) { return size_t{8}; };
  struct Case {
    const char* name;
    std::vector<std::string> pieces;  // written 20 ms apart, the first after 20 ms
    std::string taken;
    int minMs;
    int maxMs;
  };
  const Case cases[] = {
      {"whole at once", {">05ABCD\r"}, ">05ABCD\r", 20, 500},
      {"in three pieces", {">05", "AB", "CD\r"}, ">05ABCD\r", 60, 500},
      {"cut short: the whole wait", {">05AB"}, ">05AB", 990, 2000},
      {"nothing: the whole wait", {}, "", 990, 2000},
  };
  Open();
  port_.SetEarlyReplies(true);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Before the writer starts: its first piece comes 20 ms after this.
    const auto start = Clock::now();
    std::thread module([&] {
      for (const std::string& piece : c.pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        WriteMaster(master(), piece);
      }
    });
    Bytes buffer(64, 0);
    uint32_t count = 0;
    EXPECT_TRUE(port_.ReadReply(buffer.data(), buffer.size(), 500, 500, eight, &count));
    const auto took = Clock::now() - start;
    module.join();
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + count), Text(c.taken));
    EXPECT_GE(took, std::chrono::milliseconds(c.minMs));
    EXPECT_LT(took, std::chrono::milliseconds(c.maxMs));
  }
  // A line that hung up cannot be waited on: the read fails at the default
  // time, as it does without early replies.
  pty_.CloseMaster();
  Settle();
  uint32_t count = 99;
  uint8_t buffer[16];
  const auto start = Clock::now();
  EXPECT_FALSE(port_.ReadReply(buffer, sizeof buffer, 500, 500, eight, &count));
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(990));
  EXPECT_EQ(count, 99u);
}

TEST_F(PtyLine, TheLineIsRawWhileOpenAndRestoredAfterwards) {
  // A freshly opened tty echoes, and translates CR and NL.
  const int tty = open(pty_.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(tty, 0);
  termios cooked{};
  ASSERT_EQ(tcgetattr(tty, &cooked), 0);
  cooked.c_lflag |= ECHO | ICANON | ISIG;
  cooked.c_iflag |= ICRNL;
  cooked.c_oflag |= OPOST | ONLCR;
  ASSERT_EQ(tcsetattr(tty, TCSANOW, &cooked), 0);

  Open();
  WriteMaster(master(), "a\rb\n");
  EXPECT_EQ(Receive(100), Text("a\rb\n"));
  ASSERT_TRUE(Send("x\n\r"));
  EXPECT_EQ(ReadMaster(master(), 16, 200), Text("x\n\r"));  // no echo, no translation

  port_.Close();
  termios after{};
  ASSERT_EQ(tcgetattr(tty, &after), 0);
  EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG), tcflag_t{ECHO | ICANON | ISIG});
  EXPECT_EQ(after.c_iflag & ICRNL, tcflag_t{ICRNL});
  close(tty);
}

TEST_F(PtyLine, ALineHasOneUser) {
  Open();
  PortConfig other = host_.config;
  other.SharedHandle = nullptr;
  Port second;
  EXPECT_EQ(OpenError(second.Open(&other)), ErrCreatePort);
  EXPECT_EQ(other.SharedHandle, nullptr);
  port_.Close();
  EXPECT_EQ(OpenError(second.Open(&other)), ErrOk);
  second.Close();
}

TEST_F(PtyLine, OpenFailuresNameTheStepThatFailed) {
  struct Case {
    const char* path;
    uint32_t lineTimeout;
    DriverError code;
  };
  const Case cases[] = {
      {"/nonexistent/ttyX", 500, ErrCreatePort},
      {"/dev/null", 500, ErrPortState},         // no terminal settings to read
      {nullptr, 0xFFFFFFFFu, ErrPortTimeouts},  // read time-outs all ones
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path != nullptr ? c.path : "pty");
    SetPortDevice(kPort, c.path != nullptr ? c.path : pty_.slavePath().c_str());
    host_.settings.LineTimeout = c.lineTimeout;
    host_.config.SharedHandle = nullptr;
    Port port;
    EXPECT_EQ(OpenError(port.Open(&host_.config)), c.code);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_EQ(host_.config.SharedHandle, nullptr);
  }
  // Nothing was left open or locked.
  SetPortDevice(kPort, pty_.slavePath().c_str());
  host_.settings.LineTimeout = 500;
  Open();
}

TEST_F(PtyLine, RatesWithoutAStandardConstantAreSet) {
  for (uint32_t code : {7u, 10u, 13u, 14u}) {
    host_.settings.BaudCode = code;
    host_.config.SharedHandle = nullptr;
    EXPECT_EQ(OpenError(port_.Open(&host_.config)), ErrOk) << code;
    port_.Close();
  }
  std::unique_ptr<Device> device = PosixDevice::Open(pty_.slavePath());
  ASSERT_NE(device, nullptr);
  LineState state;
  ASSERT_TRUE(device->GetState(&state));
  for (uint32_t rate : {14400u, 256000u, 9600u}) {
    state.baudRate = rate;
    ASSERT_TRUE(device->SetState(state));
    LineState read;
    ASSERT_TRUE(device->GetState(&read));
    EXPECT_EQ(read.baudRate, rate);
  }
}

}  // namespace
}  // namespace tarvo::serial
