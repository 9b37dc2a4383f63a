// The wire time of each family's largest answer, and when tarvo-poll warns
// that the time-out cannot let it arrive whole.
#include "tools/poll/wire_time.h"

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
            "short; raise -t\n");
  EXPECT_FALSE(TimeoutWarning("pxr5760", 19200, 10, 536).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5760", 19200, 10, 535).has_value());
  // No time-out lets a full pxr530x module arrive at 9600 baud.
  EXPECT_EQ(TimeoutWarning("pxr530x", 9600, 10, 2000).value(),
            "tarvo-poll: warning: pxr530x answers of up to 2053 bytes take 2139 ms on the wire "
            "at 9600 baud, but the time-out of 2000 ms gives them 2000 ms: a full answer arrives "
            "cut short; raise -t or the baud rate\n");
  // pxr5700 always waits at least 100 ms; 17 bytes of 11 bits at 1200 baud
  // take 155.8 ms.
  EXPECT_FALSE(TimeoutWarning("pxr5700", 9600, 10, 50).has_value());
  EXPECT_TRUE(TimeoutWarning("pxr5700", 1200, 11, 100).has_value());
  EXPECT_FALSE(TimeoutWarning("pxr5700", 1200, 11, 156).has_value());
}

}  // namespace
}  // namespace tarvo::tools
