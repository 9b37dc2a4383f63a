// The wait for an answer in both modes, on the fake line in virtual time.
#include <cstring>
#include <string>
#include <vector>

#include "driver/driver_base.h"
#include "driver/exchange.h"
#include "gtest/gtest.h"
#include "serial/port.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::serial {
namespace {

using test::FakeOp;

struct Piece {
  std::string bytes;
  int64_t atMs;
};

class PortReply : public ::testing::Test {
 protected:
  void OpenWith(const char* text) {
    host_.SetTimeout(text);
    ASSERT_EQ(OpenError(port_.Open(&host_.config)), ErrOk);
  }
  void Send(const std::vector<Piece>& pieces) {
    for (const Piece& p : pieces)
      serial_.line(1).Deliver(std::vector<uint8_t>(p.bytes.begin(), p.bytes.end()), p.atMs);
  }
  int64_t Now() { return serial_.clock().NowMs(); }

  test::FakeSerial serial_;
  test::HostPort host_;
  Port port_;
};

const uint8_t kHead[3] = {'>', '0', '5'};

// A head and two records: 13 bytes.
const std::string kWhole = ">05xx" + std::string("abcdefgh");

TEST_F(PortReply, EarlyEndsWhenWholeElseAtTheDefaultTime) {
  struct Case {
    const char* name;
    std::vector<Piece> pieces;
    size_t capacity;
    int64_t ms;         // time of the return
    std::string taken;  // the bytes read
  };
  const Case cases[] = {
      {"at once", {{kWhole, 0}}, 64, 0, kWhole},
      {"at 37 ms", {{kWhole, 37}}, 64, 37, kWhole},
      {"in pieces", {{">05", 10}, {"xxabc", 120}, {"defgh", 250}}, 64, 250, kWhole},
      {"with more behind", {{kWhole + "zz", 40}}, 64, 40, kWhole + "zz"},
      {"the rest later", {{kWhole, 40}, {"zz", 41}}, 64, 40, kWhole},
      {"cut short", {{kWhole.substr(0, 9), 40}}, 64, 400, kWhole.substr(0, 9)},
      {"rest after the time",
       {{kWhole.substr(0, 9), 40}, {"efgh", 401}},
       64,
       400,
       kWhole.substr(0, 9)},
      {"wrong head", {{"?05xxabcdefgh", 40}}, 64, 400, "?05xxabcdefgh"},
      {"wrong head late", {{"?05", 40}, {"xxabcdefgh", 390}}, 64, 400, "?05xxabcdefgh"},
      {"nothing", {}, 64, 400, ""},
      {"too late", {{kWhole, 401}}, 64, 400, ""},
      {"longer than the buffer", {{kWhole, 40}}, 12, 400, kWhole.substr(0, 12)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeSerial serial;
    Port port;
    test::HostPort host(1, "300,early");
    ASSERT_EQ(OpenError(port.Open(&host.config)), ErrOk);
    for (const Piece& p : c.pieces)
      serial.line(1).Deliver(std::vector<uint8_t>(p.bytes.begin(), p.bytes.end()), p.atMs);
    std::vector<uint8_t> buffer(c.capacity + 4, 0);
    uint32_t count = 99;
    ASSERT_TRUE(
        port.ReadReply(buffer.data(), c.capacity, 100, 300, RecordsReply(kHead, 2), &count));
    EXPECT_EQ(serial.clock().NowMs(), c.ms);
    ASSERT_EQ(count, c.taken.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + count), c.taken);
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(c.capacity),
                                   buffer.end()),
              std::vector<uint8_t>(4, 0));
    port.Close();
  }
}

TEST_F(PortReply, EarlySleepsTheWireTimeOfTheMissingBytesOnceTheAnswerHasBegun) {
  // A full pxr5100 block answer: the head, two bytes and 64 records.
  const std::string block = ">05xx" + std::string(256, 'r');
  constexpr uint32_t k9600 = 6;
  constexpr uint32_t k115200 = 12;
  struct Case {
    const char* name;
    uint32_t baudCode;
    bool adopted;  // read through an object that adopted the line
    std::vector<Piece> pieces;
    std::vector<std::pair<uint32_t, size_t>> sleeps;  // runs of {ms, times}
    int64_t ms;                                       // time of the return
  };
  const Case cases[] = {
      {"9600: 256 bytes take 266 ms",
       k9600,
       false,
       {{block.substr(0, 5), 10}, {block.substr(5), 276}},
       {{1, 10}, {266, 1}},
       276},
      {"in chunks: no look between them",
       k9600,
       false,
       {{block.substr(0, 5), 10}, {block.substr(5, 128), 143}, {block.substr(133), 276}},
       {{1, 10}, {266, 1}},
       276},
      {"late after the wire time: steps, no second sleep",
       k9600,
       false,
       {{block.substr(0, 65), 10}, {block.substr(65, 100), 300}, {block.substr(165), 400}},
       {{1, 10}, {204, 1}, {1, 186}},
       400},
      {"115200: 256 bytes take 22 ms",
       k115200,
       false,
       {{block.substr(0, 5), 2}, {block.substr(5), 24}},
       {{1, 2}, {22, 1}},
       24},
      {"less than a ms missing: no sleep of its own",
       k115200,
       false,
       {{block.substr(0, 250), 2}, {block.substr(250), 3}},
       {{1, 3}},
       3},
      {"an adopted line at the rate it was opened with",
       k115200,
       true,
       {{block.substr(0, 5), 2}, {block.substr(5), 24}},
       {{1, 2}, {22, 1}},
       24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::FakeSerial serial;
    test::HostPort host(1, "300,early");
    host.settings.BaudCode = c.baudCode;
    Port opener;
    ASSERT_EQ(OpenError(opener.Open(&host.config)), ErrOk);
    Port adopter;
    ASSERT_EQ(OpenError(adopter.Open(&host.config)), ErrOk);
    Port& port = c.adopted ? adopter : opener;
    for (const Piece& p : c.pieces)
      serial.line(1).Deliver(std::vector<uint8_t>(p.bytes.begin(), p.bytes.end()), p.atMs);
    serial.clock().ClearSleeps();
    std::vector<uint8_t> buffer(300, 0);
    uint32_t count = 0;
    ASSERT_TRUE(
        port.ReadReply(buffer.data(), buffer.size(), 300, 300, RecordsReply(kHead, 64), &count));
    std::vector<uint32_t> sleeps;
    for (const auto& [ms, times] : c.sleeps) sleeps.insert(sleeps.end(), times, ms);
    EXPECT_EQ(serial.clock().sleeps(), sleeps);
    EXPECT_EQ(serial.clock().NowMs(), c.ms);
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + count), block);
    opener.Close();
  }
}

TEST_F(PortReply, DefaultModeSleepsAndReadsAsBeforeWhateverTheRule) {
  OpenWith("300");
  Send({{kWhole, 0}});
  uint8_t buffer[64] = {};
  uint32_t count = 0;
  const int callsBefore = serial_.line(1).calls(FakeOp::ClearError);
  ASSERT_TRUE(port_.ReadReply(buffer, sizeof buffer, 100, 300, RecordsReply(kHead, 2), &count));
  EXPECT_EQ(serial_.clock().sleeps(), (std::vector<uint32_t>{100, 300}));
  EXPECT_EQ(serial_.line(1).calls(FakeOp::ClearError) - callsBefore, 1);
  EXPECT_EQ(count, kWhole.size());
  // Without a settle, only the read's own sleep.
  ASSERT_TRUE(port_.ReadReply(buffer, sizeof buffer, 0, 300, RecordsReply(kHead, 2), &count));
  EXPECT_EQ(serial_.clock().sleeps(), (std::vector<uint32_t>{100, 300, 300}));
}

TEST_F(PortReply, EarlyWithoutARuleWaitsTheDefaultTime) {
  OpenWith("300,early");
  Send({{kWhole, 0}});
  uint8_t buffer[64] = {};
  uint32_t count = 0;
  ASSERT_TRUE(port_.ReadReply(buffer, sizeof buffer, 100, 300, ReplyRule(), &count));
  EXPECT_EQ(Now(), 400);
  EXPECT_EQ(count, kWhole.size());
}

TEST_F(PortReply, AFailingLineFailsAtTheDefaultTime) {
  OpenWith("300,early");
  serial_.line(1).FailFrom(FakeOp::ClearError);
  uint8_t buffer[64] = {};
  uint32_t count = 77;
  EXPECT_FALSE(port_.ReadReply(buffer, sizeof buffer, 100, 300, RecordsReply(kHead, 2), &count));
  EXPECT_EQ(Now(), 400);
  EXPECT_EQ(count, 77u);
  // A line without a port: the same time, the same failure.
  port_.Close();
  EXPECT_FALSE(port_.ReadReply(buffer, sizeof buffer, 100, 300, RecordsReply(kHead, 2), &count));
  EXPECT_EQ(Now(), 800);
}

}  // namespace
}  // namespace tarvo::serial
