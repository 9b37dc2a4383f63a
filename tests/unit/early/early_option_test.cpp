// The early-reply option in the time-out text, and what Open makes of it.
#include <cstring>
#include <string>

#include "driver/driver_base.h"
#include "gtest/gtest.h"
#include "serial/port.h"
#include "serial/settings.h"
#include "support/fake_serial.h"
#include "support/host_port.h"

namespace tarvo::serial {
namespace {

TEST(EarlyRepliesOption, OnlyAnOptionAfterTheNumberCounts) {
  struct Case {
    const char* text;
    bool early;
    int32_t timeoutMs;  // the number reads as before
  };
  const Case cases[] = {
      {"300,early", true, 300},      {"250,early", true, 250},
      {"300", false, 300},           {"", false, 300},
      {",early", true, 300},         {"300, early ", true, 300},
      {"300,fast,early", true, 300}, {"300,early,fast", true, 300},
      {"300,earlyx", false, 300},    {"300,Early", false, 300},
      {"300early", false, 300},      {"early", false, 300},
      {"300,", false, 300},          {"300,,early", true, 300},
      {"99,early", true, 300},       {"2000,early", true, 2000},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EarlyRepliesOption(c.text, std::strlen(c.text)), c.early) << c.text;
    EXPECT_EQ(TransferTimeout(c.text, std::strlen(c.text)), c.timeoutMs) << c.text;
  }
}

TEST(EarlyRepliesOption, ReadsNoFurtherThanTheFieldOrItsEnd) {
  const std::string text = "300,early";
  EXPECT_FALSE(EarlyRepliesOption(text.data(), 8));  // "300,earl"
  EXPECT_TRUE(EarlyRepliesOption(text.data(), 9));
  const char terminated[] = "300\0,early";
  EXPECT_FALSE(EarlyRepliesOption(terminated, sizeof terminated));
  char full[64];
  std::memset(full, ',', sizeof full);
  EXPECT_FALSE(EarlyRepliesOption(full, sizeof full));
  EXPECT_FALSE(EarlyRepliesOption(nullptr, 10));
}

TEST(EarlyRepliesOption, EachOpenTakesItFromItsTextAlsoWhenAdopting) {
  test::FakeSerial serial;
  test::HostPort host(1, "400,early");
  PortConfig& first = host.config;
  Port a;
  ASSERT_EQ(OpenError(a.Open(&first)), ErrOk);
  EXPECT_TRUE(a.EarlyReplies());
  EXPECT_EQ(a.Timeout(), 400);

  // A second object adopts the line through a record without the option.
  PortConfig second = first;
  std::strcpy(second.TimeoutText, "400");
  Port b;
  ASSERT_EQ(OpenError(b.Open(&second)), ErrOk);
  EXPECT_FALSE(b.EarlyReplies());
  EXPECT_TRUE(a.EarlyReplies());
  EXPECT_EQ(serial.line(1).opens(), 1);
  a.Close();
}

}  // namespace
}  // namespace tarvo::serial
