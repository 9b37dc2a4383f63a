// The error texts are stored as GBK bytes; converting each back to UTF-8
// with the platform's converter must give the text exactly.
#include "driver/error_text.h"

#include <iconv.h>

#include <string>

#include "gtest/gtest.h"

namespace tarvo {
namespace {

std::string GbkToUtf8(const char* gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in(gbk);
  std::string out(in.size() * 4 + 4, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  const size_t converted = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (converted == static_cast<size_t>(-1)) return "<invalid GBK>";
  out.resize(out.size() - outLeft);
  return out;
}

const char* const kUtf8Texts[kErrorCount] = {
    "OK",
    "不支持该寄存器",
    "寄存器名后应为数字",
    "错误的模块号",
    "错误的通道号",
    "错误的RtsDtr模式",
    "打开串口错误",
    "关闭串口错误",
    "读温度错误",
    "错误的数据类型",
    "无法建立串行通信端口！",
    "I/O 寄存器超限, 不能运行I/O 读操作！",
    "初始化串行通信端口数据结构错误！",
    "串行通信端口状态错误！",
    "设置串行通信超时错误！",
    "设备地址不支持！",
    "写串行通信端口错！",
    "读串行通信端口错！",
    "错误的模块地址",
    "错误的通道号",
    "错误的温度点号",
    "错误的寄存器名",
    "读数据错误",
    "延时时间未到",
    "初始化模块失败",
};

TEST(ErrorText, EveryCodeConvertsToItsText) {
  for (int32_t code = 0; code < kErrorCount; ++code)
    EXPECT_EQ(GbkToUtf8(ErrorText(code)), kUtf8Texts[code]) << "code " << code;
}

TEST(ErrorText, ChannelCodesShareOneText) {
  EXPECT_STREQ(ErrorText(ErrChannelNumber), ErrorText(ErrChannel));
}

TEST(ErrorText, OutOfRangeCodesNeverLeaveTheTable) {
  EXPECT_STREQ(ErrorText(-1), "OK");
  EXPECT_STREQ(ErrorText(kErrorCount), "OK");
}

}  // namespace
}  // namespace tarvo
