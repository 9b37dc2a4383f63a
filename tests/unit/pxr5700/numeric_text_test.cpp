// The numeric channel's text as a number: what atof would read in the "C"
// locale, from exactly five characters.
#include "pxr5700/numeric_text.h"

#include <cmath>
#include <limits>
#include <string>

#include "gtest/gtest.h"

namespace tarvo::pxr5700 {
namespace {

struct Case {
  std::string text;  // exactly five bytes, NULs included
  float value;
};

class NumericText : public ::testing::TestWithParam<Case> {};

TEST_P(NumericText, ReadsTheLeadingNumber) {
  const Case& c = GetParam();
  ASSERT_EQ(c.text.size(), 5u);
  const float value = ParseNumericText(c.text.data(), c.text.size());
  EXPECT_EQ(value, c.value) << '"' << c.text << '"';
  EXPECT_EQ(std::signbit(value), std::signbit(c.value)) << '"' << c.text << '"';
}

constexpr float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Texts, NumericText,
    ::testing::Values(Case{"23.45", 23.45f}, Case{"  -1.", -1.0f}, Case{"abcde", 0.0f},
                      Case{"     ", 0.0f}, Case{std::string(5, '\0'), 0.0f}, Case{"+7.50", 7.5f},
                      Case{"-0.00", -0.0f}, Case{".5000", 0.5f}, Case{"-.25x", -0.25f},
                      Case{"12345", 12345.0f}, Case{"\t\n\v\f9", 9.0f}, Case{"\r 3.1", 3.1f},
                      // A sign or a point alone is no number.
                      Case{"  -  ", 0.0f}, Case{"  .  ", 0.0f}, Case{"+-1.0", 0.0f},
                      Case{"- 1.0", 0.0f},
                      // Text behind the number, a NUL included, ends it.
                      Case{"1.5V ", 1.5f},
                      Case{std::string("4\0"
                                       "99",
                                       5),
                           4.0f},
                      Case{"1.2.3", 1.2f}, Case{"1,5  ", 1.0f},
                      // Exponents, and an "e" that has no digits.
                      Case{"1e3  ", 1000.0f}, Case{"25E-1", 2.5f}, Case{"-1e+2", -100.0f},
                      Case{"2e   ", 2.0f}, Case{"2e-  ", 2.0f}, Case{".5e1 ", 5.0f},
                      // Beyond the float range: an infinity, or 0.
                      Case{"9e99 ", kInf}, Case{"-1e99", -kInf}, Case{"1e999", kInf},
                      Case{"1e-99", 0.0f}, Case{"0e999", 0.0f},
                      // No other number forms.
                      Case{" inf ", 0.0f}, Case{"nan  ", 0.0f}, Case{"0x1A ", 0.0f}));

TEST(NumericTextBounds, ReadsNoFurtherThanItsLength) {
  // Digits right behind the five characters must not join the number.
  EXPECT_EQ(ParseNumericText("123456789", 5), 12345.0f);
  EXPECT_EQ(ParseNumericText("1e129", 3), 10.0f);
  EXPECT_EQ(ParseNumericText("    7", 4), 0.0f);
  // A long run of digits is read without overflow.
  const std::string small = "0." + std::string(30, '0') + "125" + std::string(30, '0');
  EXPECT_FLOAT_EQ(ParseNumericText(small.data(), small.size()), 1.25e-31f);
  const std::string large = "25" + std::string(30, '0') + ".5";
  EXPECT_FLOAT_EQ(ParseNumericText(large.data(), large.size()), 2.5e31f);
  const std::string huge(60, '9');
  EXPECT_EQ(ParseNumericText(huge.data(), huge.size()), kInf);
  // A written exponent beyond any float still weighs against the digits:
  // 600 digits times 10 to the -40000342 is 0, not infinity, and 500
  // leading zeros and a 1 times 10 to the 600 is infinity, not 0.
  // Appended in place: GCC 12 at -O2 takes the concatenation for an
  // out-of-bounds copy (-Warray-bounds).
  std::string many(600, '9');
  many.append("e-40000342");
  EXPECT_EQ(ParseNumericText(many.data(), many.size()), 0.0f);
  const std::string tiny = "0." + std::string(500, '0') + "1e+600";
  EXPECT_EQ(ParseNumericText(tiny.data(), tiny.size()), kInf);
  const std::string exact = "1" + std::string(450, '0') + "e-440";
  EXPECT_FLOAT_EQ(ParseNumericText(exact.data(), exact.size()), 1e10f);
}

}  // namespace
}  // namespace tarvo::pxr5700
