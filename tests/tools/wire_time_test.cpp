// The wire time of each family's largest answer, and when tarvo-poll warns
// that the time-out cannot let it arrive whole.
#include "tools/plant/wire_time.h"

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

TEST(WireTime, LargestAnswersOfEachFamily) {
  EXPECT_EQ(LargestAnswer("pxr5100")->bytes, 261);
  EXPECT_EQ(LargestAnswer("pxr5100")->waits, 2);
  EXPECT_EQ(LargestAnswer("pxr5303")->bytes, 197);
  EXPECT_EQ(LargestAnswer("pxr530x")->bytes, 2053);
  EXPECT_EQ(LargestAnswer("pxr5700")->bytes, 17);
  EXPECT_EQ(LargestAnswer("pxr5700")->minimumWaitMs, 100);
  EXPECT_EQ(LargestAnswer("pxr5760")->bytes, 1029);
  EXPECT_FALSE(LargestAnswer("Cpxr5100").has_value());
}

TEST(WireTime, TenBitsPerByteAtEachRate) {
  EXPECT_DOUBLE_EQ(WireTimeMs(261, 9600, 10), 271.875);
  EXPECT_DOUBLE_EQ(WireTimeMs(1029, 19200, 10), 535.9375);
  EXPECT_DOUBLE_EQ(WireTimeMs(2053, 38400, 10), 534.6354166666666);
  EXPECT_DOUBLE_EQ(WireTimeMs(17, 115200, 11), 1.6232638888888888);
}

TEST(WireTime, WarnsOnlyWhenTheWaitsAreShorterThanTheExchange) {
  // pxr5100 waits two time-outs for a 5-byte command, a full 64-point
  // channel's 261-byte answer (277.1 ms at 9600 baud) and 50 ms of turnaround:
  // 2 x 164 = 328 ms >= 327.1 ms. The answer's wire time alone (2 x 136 ms)
  // is not enough.
  EXPECT_FALSE(TimeoutWarning("pxr5100", 9600, 10, 164).has_value());
  EXPECT_EQ(TimeoutWarning("pxr5100", 9600, 10, 163).value(),
            "tarvo-poll: warning: pxr5100 answers of up to 261 bytes take 272 ms on the wire at "
            "9600 baud, 327 ms with their command and the module's turnaround, but the time-out "
            "of 163 ms gives them 326 ms: a full answer arrives cut short; use -t 164 or more, or "
            "leave -t out\n");
  EXPECT_TRUE(TimeoutWarning("pxr5100", 9600, 10, 136).has_value());
  EXPECT_FALSE(TimeoutWarning("pxr5760", 19200, 10, 589).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5760", 19200, 10, 588).has_value());
  // No time-out lets a full pxr530x module arrive at 9600 baud.
  EXPECT_EQ(TimeoutWarning("pxr530x", 9600, 10, 2000).value(),
            "tarvo-poll: warning: pxr530x answers of up to 2053 bytes take 2139 ms on the wire "
            "at 9600 baud, 2194 ms with their command and the module's turnaround, more than the "
            "longest time-out (2000 ms) lets arrive: a full answer arrives cut short; use a "
            "higher baud rate (14400 or more) or fewer points on the module\n");
  // pxr5700 always waits at least 100 ms; its 5 + 17 bytes of 11 bits at
  // 1200 baud take 201.7 ms, with the turnaround 251.7 ms.
  EXPECT_FALSE(TimeoutWarning("pxr5700", 9600, 10, 50).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5700", 1200, 11, 251).has_value());
  EXPECT_FALSE(TimeoutWarning("pxr5700", 1200, 11, 252).has_value());
}

TEST(WireTime, TheTimeOutChosenWithoutDashTFitsTheLargestAnswer) {
  struct Row {
    const char* family;
    int32_t at9600;
    int32_t at115200;
  };
  // pxr530x at 9600 baud: no time-out fits, the longest is chosen (and
  // warned about, above).
  const Row rows[] = {{"pxr5100", 164, 100},
                      {"pxr5303", 261, 100},
                      {"pxr530x", 2000, 229},
                      {"pxr5700", 100, 100},
                      {"pxr5760", 1128, 140}};
  for (const Row& row : rows) {
    EXPECT_EQ(FittingTimeoutMs(row.family, 9600, 10), row.at9600) << row.family;
    EXPECT_EQ(FittingTimeoutMs(row.family, 115200, 10), row.at115200) << row.family;
    if (row.at9600 < 2000) {
      EXPECT_FALSE(TimeoutWarning(row.family, 9600, 10, row.at9600).has_value()) << row.family;
    }
  }
}

}  // namespace
}  // namespace tarvo::tools
