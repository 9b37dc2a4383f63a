// The transfer time-out a host's text gives.
#include "serial/settings.h"

#include <cstring>
#include <string>

#include "gtest/gtest.h"

namespace tarvo::serial {
namespace {

TEST(TransferTimeout, TakesTheLeadingNumberWhenInRange) {
  struct Case {
    const char* text;
    int32_t ms;
  };
  const Case cases[] = {
      {"250", 250},
      {"100", 100},
      {"2000", 2000},
      {"99", 300},
      {"2001", 300},
      {"-5", 300},
      {"", 300},
      {"abc", 300},
      {"  250", 250},
      {"\t+150", 150},
      {"250ms", 250},
      {"0150", 150},
      {"-150", 300},
      {"1 000", 300},
      {"+-150", 300},
      {"x250", 300},
      {"0", 300},
      {"00002000", 2000},
      {"99999999999999999999", 300},
  };
  for (const Case& c : cases)
    EXPECT_EQ(TransferTimeout(c.text, std::strlen(c.text)), c.ms) << c.text;
}

TEST(TransferTimeout, ReadsNoFurtherThanTheField) {
  // "150" and then digits past the end of the field: only the field counts.
  const std::string field = "1500";
  EXPECT_EQ(TransferTimeout(field.data(), 3), 150);
  // A field that is all digits up to its end, unterminated.
  char full[64];
  std::memset(full, '1', sizeof full);
  EXPECT_EQ(TransferTimeout(full, sizeof full), 300);
  std::memset(full, ' ', sizeof full);
  EXPECT_EQ(TransferTimeout(full, sizeof full), 300);
  EXPECT_EQ(TransferTimeout(nullptr, 64), 300);
}

}  // namespace
}  // namespace tarvo::serial
