// Bytes on the wire as the tools print them: the hex dump, tarvo-poll's
// trace lines and pxrsim's exchange log.
#include <ctime>

#include "gtest/gtest.h"
#include "sim/bytes.h"
#include "tools/common/hex_dump.h"
#include "tools/common/time_text.h"
#include "tools/poll/trace_printer.h"
#include "tools/pxrsim/traffic_printer.h"

namespace tarvo::tools {
namespace {

class TextFormats : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
  }
  // 2024-05-01T14:03:07.250Z
  const std::chrono::system_clock::time_point when_ =
      std::chrono::system_clock::time_point(std::chrono::milliseconds(1714572187250));
};

TEST_F(TextFormats, HexDumpLinesUpTheAsciiColumn) {
  EXPECT_TRUE(HexDumpLines({}).empty());
  EXPECT_EQ(HexDumpLines(sim::ToBytes("#0a1\r")),
            (std::vector<std::string>{"23 30 61 31 0d                                   #0a1."}));
  const sim::Bytes seventeen = sim::ToBytes(
      ">0a1\x02"
      "abcdABCD\x7f\x80\x20Z");
  EXPECT_EQ(
      HexDumpLines(seventeen),
      (std::vector<std::string>{"3e 30 61 31 02 61 62 63 64 41 42 43 44 7f 80 20  >0a1.abcdABCD.. ",
                                "5a                                               Z"}));
}

TEST_F(TextFormats, TimeStamps) {
  EXPECT_EQ(IsoTime(when_), "2024-05-01T14:03:07.250+00:00");
  EXPECT_EQ(ClockTime(when_), "14:03:07.250");
  setenv("TZ", "UTC-5:30", 1);  // five and a half hours east
  tzset();
  EXPECT_EQ(IsoTime(when_), "2024-05-01T19:33:07.250+05:30");
  setenv("TZ", "UTC+3", 1);
  tzset();
  EXPECT_EQ(IsoTime(when_), "2024-05-01T11:03:07.250-03:00");
}

TEST_F(TextFormats, TraceLines) {
  EXPECT_EQ(FormatTrace(when_, "Read Send", sim::ToBytes("#0c1\r")),
            "14:03:07.250 Read Send       5  23 30 63 31 0d                                   "
            "#0c1.\n");
  EXPECT_EQ(FormatTrace(when_, "Read Receive", {}), "14:03:07.250 Read Receive    0  (nothing)\n");
  EXPECT_EQ(FormatTrace(when_, "Read Receive",
                        sim::ToBytes(">0c1\x01"
                                     "abcdefghijklmnop")),
            "14:03:07.250 Read Receive   21  3e 30 63 31 01 61 62 63 64 65 66 67 68 69 6a 6b  "
            ">0c1.abcdefghijk\n"
            "                                6c 6d 6e 6f 70                                   "
            "lmnop\n");
}

TEST_F(TextFormats, ExchangeLog) {
  sim::Exchange answered;
  answered.address = 12;
  answered.family = "pxr5100";
  answered.command = sim::ToBytes("*0c1\r");
  answered.answer = {{0, sim::ToBytes(">0c1\x01\x05\r")}};
  EXPECT_EQ(FormatExchange(when_, answered),
            "14:03:07.250 module  12 pxr5100   <- 2a 30 63 31 0d                                   "
            "*0c1.\n"
            "                                  -> 3e 30 63 31 01 05 0d                             "
            ">0c1...\n");

  sim::Exchange silent = answered;
  silent.answer.clear();
  EXPECT_EQ(FormatExchange(when_, silent),
            "14:03:07.250 module  12 pxr5100   <- 2a 30 63 31 0d                                   "
            "*0c1.\n"
            "                                  -> (no answer)\n");

  sim::Exchange pieces = answered;
  pieces.answer = {{300, sim::ToBytes(">0c")}, {320, sim::ToBytes("1\x01\x05\r")}};
  EXPECT_EQ(FormatExchange(when_, pieces),
            "14:03:07.250 module  12 pxr5100   <- 2a 30 63 31 0d                                   "
            "*0c1.\n"
            "                                  -> 3e 30 63                                         "
            ">0c  (after 300 ms)\n"
            "                                  -> 31 01 05 0d                                      "
            "1...  (after 320 ms)\n");

  sim::Exchange dropped;
  dropped.command = sim::ToBytes("zz");
  EXPECT_EQ(FormatExchange(when_, dropped),
            "14:03:07.250 no module            <- 7a 7a                                            "
            "zz  (dropped)\n");
}

}  // namespace
}  // namespace tarvo::tools
