// The library's GBK error texts as the tools show them: UTF-8, an English
// gloss and the code.
#include "tools/common/error_glosses.h"

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "tools/common/gbk.h"

namespace tarvo::tools {
namespace {

TEST(ErrorGlosses, EveryLibraryTextConvertsToTheTextOfItsCode) {
  ASSERT_EQ(ErrorGlosses().size(), 25u);
  for (const ErrorGloss& entry : ErrorGlosses()) {
    EXPECT_EQ(GbkToUtf8(ErrorText(entry.code)), entry.text) << "code " << entry.code;
    const ExplainedError explained = ExplainError(entry.text);
    EXPECT_NE(std::find(explained.codes.begin(), explained.codes.end(), entry.code),
              explained.codes.end())
        << "code " << entry.code;
  }
}

struct ShowCase {
  std::string_view text;
  const char* display;
  std::optional<int> code;
};

TEST(ErrorGlosses, ShowsTextGlossAndCode) {
  const ShowCase cases[] = {
      {"延时时间未到", "延时时间未到 (delay not elapsed, code 23)", 23},
      {"OK", "OK (no error, code 0)", 0},
      {"I/O 寄存器超限, 不能运行I/O 读操作！",
       "I/O 寄存器超限, 不能运行I/O 读操作！ (I/O register limit exceeded, cannot run the I/O "
       "read, code 11)",
       11},
      // Two codes share this text; the host cannot tell which it was.
      {"错误的通道号", "错误的通道号 (wrong channel number, code 4 or 19)", std::nullopt},
      {"something else", "something else (unknown error text)", std::nullopt},
  };
  for (const ShowCase& c : cases) {
    const ExplainedError explained = ExplainError(c.text);
    EXPECT_EQ(explained.Display(), c.display);
    EXPECT_EQ(explained.code(), c.code) << c.display;
  }
  EXPECT_TRUE(ExplainError("OK").ok());
  EXPECT_FALSE(ExplainError("延时时间未到").ok());
}

TEST(Gbk, ConvertsToUtf8AndReplacesWhatIsNotGbk) {
  EXPECT_EQ(GbkToUtf8(""), "");
  EXPECT_EQ(GbkToUtf8("OK"), "OK");
  EXPECT_EQ(GbkToUtf8("\xD1\xD3"), "延");
  // A lone lead byte at the end, and a byte that starts nothing in GBK.
  EXPECT_EQ(GbkToUtf8("A\xD1"), "A\xEF\xBF\xBD");
  EXPECT_EQ(GbkToUtf8("\xFF"
                      "B"),
            "\xEF\xBF\xBD"
            "B");
}

}  // namespace
}  // namespace tarvo::tools
