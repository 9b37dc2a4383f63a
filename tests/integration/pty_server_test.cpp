// The simulator served on a pseudo-terminal in real time: a command written
// to the slave end is answered within a few milliseconds, a delayed answer
// arrives late, the slave can be closed and reopened, and a module side that
// hangs up is seen as a hang-up.
#include "sim/pty_server.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "sim/bus.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;
using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Reads from `fd` until `count` bytes came or `timeoutMs` passed.
std::string ReadFor(int fd, size_t count, int64_t timeoutMs) {
  std::string got;
  const auto start = Clock::now();
  while (got.size() < count) {
    const int64_t left = timeoutMs - MsSince(start);
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

void Write(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

class PtyServing : public ::testing::Test {
 protected:
  PtyServing() {
    auto hold = bus.Hold();  // the server already runs
    auto& module = bus.Emplace<Pxr5100Module>(10);
    module.SetRecord(1, 5, {0x32, 0x00, 0x0C, 0x10});
  }
  int Open() { return open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY); }

  Bus bus;
  PtyPair pty;
  PtyServer server{pty, bus.Peer()};
};

TEST_F(PtyServing, AnswersAtOnceAndAgainAfterTheSlaveIsReopened) {
  int slave = Open();
  ASSERT_GE(slave, 0);
  auto start = Clock::now();
  Write(slave, "*0a1\r");
  EXPECT_EQ(ReadFor(slave, 7, 1000), ">0a1\x01\x05\r"s);
  EXPECT_LT(MsSince(start), 200);
  close(slave);

  slave = Open();
  ASSERT_GE(slave, 0);
  start = Clock::now();
  Write(slave, "#0a");  // a command in two writes
  Write(slave, "1\r");
  EXPECT_EQ(ReadFor(slave, 9, 1000), ">0a1\x01\x32\x00\x0C\x10"s);
  EXPECT_LT(MsSince(start), 200);
  close(slave);
  EXPECT_EQ(bus.log().Commands(), (std::vector<std::string>{"*0a1\r", "#0a1\r"}));
  EXPECT_TRUE(server.serving());
}

TEST_F(PtyServing, ADelayedAnswerArrivesLate) {
  {
    auto hold = bus.Hold();
    bus.Find(10)->SetFaults({.delayMs = 150});
  }
  const int slave = Open();
  ASSERT_GE(slave, 0);
  const auto start = Clock::now();
  Write(slave, "*0a1\r");
  EXPECT_EQ(ReadFor(slave, 1, 100), "");
  EXPECT_EQ(ReadFor(slave, 7, 1000), ">0a1\x01\x05\r"s);
  EXPECT_GE(MsSince(start), 150);
  close(slave);
}

TEST_F(PtyServing, AModuleSideThatHangsUpIsSeenAsAHangUp) {
  const int slave = Open();
  ASSERT_GE(slave, 0);
  server.HangUp();
  EXPECT_FALSE(server.serving());
  EXPECT_EQ(pty.master(), -1);
  pollfd p{slave, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 1000), 1);
  EXPECT_TRUE(p.revents & POLLHUP);
  char byte;
  EXPECT_LE(read(slave, &byte, 1), 0);
  close(slave);
}

}  // namespace
}  // namespace tarvo::sim
