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

TEST(WireTime, WarnsOnlyWhenTheWaitsAreShorterThanTheWire) {
  // pxr5100 waits two time-outs: 2 x 136 = 272 ms >= 271.875 ms.
  EXPECT_FALSE(TimeoutWarning("pxr5100", 9600, 10, 136).has_value());
  EXPECT_EQ(TimeoutWarning("pxr5100", 9600, 10, 135).value(),
            "tarvo-poll: warning: pxr5100 answers of up to 261 bytes take 272 ms on the wire at "
            "9600 baud, but the time-out of 135 ms gives them 270 ms: a full answer arrives cut "
            "short; use -t 136 or more, or leave -t out\n");
  EXPECT_FALSE(TimeoutWarning("pxr5760", 19200, 10, 536).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5760", 19200, 10, 535).has_value());
  // No time-out lets a full pxr530x module arrive at 9600 baud.
  EXPECT_EQ(TimeoutWarning("pxr530x", 9600, 10, 2000).value(),
            "tarvo-poll: warning: pxr530x answers of up to 2053 bytes take 2139 ms on the wire "
            "at 9600 baud, more than the longest time-out (2000 ms) lets arrive: a full answer "
            "arrives cut short; use a higher baud rate (14400 or more) or fewer points on the "
            "module\n");
  // pxr5700 always waits at least 100 ms; 17 bytes of 11 bits at 1200 baud
  // take 155.8 ms.
  EXPECT_FALSE(TimeoutWarning("pxr5700", 9600, 10, 50).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5700", 1200, 11, 100).has_value());
  EXPECT_FALSE(TimeoutWarning("pxr5700", 1200, 11, 156).has_value());
}

TEST(WireTime, TheTimeOutChosenWithoutDashTFitsTheLargestAnswer) {
  struct Row {
    const char* family;
    int32_t at9600;
    int32_t at115200;
  };
  // pxr530x at 9600 baud: no time-out fits, the longest is chosen (and
  // warned about, above).
  const Row rows[] = {{"pxr5100", 136, 100},
                      {"pxr5303", 206, 100},
                      {"pxr530x", 2000, 179},
                      {"pxr5700", 100, 100},
                      {"pxr5760", 1072, 100}};
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
