#include "tools/common/error_glosses.h"

namespace tarvo::tools {
namespace {

constexpr ErrorGloss kGlosses[] = {
    {0, "OK", "no error"},
    {1, "不支持该寄存器", "register not supported"},
    {2, "寄存器名后应为数字", "a number must follow the register name"},
    {3, "错误的模块号", "wrong module number"},
    {4, "错误的通道号", "wrong channel number"},
    {5, "错误的RtsDtr模式", "wrong RTS/DTR mode"},
    {6, "打开串口错误", "error opening the serial port"},
    {7, "关闭串口错误", "error closing the serial port"},
    {8, "读温度错误", "error reading the temperature"},
    {9, "错误的数据类型", "wrong data type"},
    {10, "无法建立串行通信端口！", "cannot open the serial port"},
    {11, "I/O 寄存器超限, 不能运行I/O 读操作！",
     "I/O register limit exceeded, cannot run the I/O read"},
    {12, "初始化串行通信端口数据结构错误！", "error initialising the serial port's settings"},
    {13, "串行通信端口状态错误！", "serial port state error"},
    {14, "设置串行通信超时错误！", "error setting the serial time-outs"},
    {15, "设备地址不支持！", "device address not supported"},
    {16, "写串行通信端口错！", "error writing the serial port"},
    {17, "读串行通信端口错！", "error reading the serial port"},
    {18, "错误的模块地址", "wrong module address"},
    {19, "错误的通道号", "wrong channel number"},
    {20, "错误的温度点号", "wrong temperature point number"},
    {21, "错误的寄存器名", "wrong register name"},
    {22, "读数据错误", "error in the data read"},
    {23, "延时时间未到", "delay not elapsed"},
    {24, "初始化模块失败", "module initialisation failed"},
};

}  // namespace

std::span<const ErrorGloss> ErrorGlosses() { return kGlosses; }

std::string ExplainedError::CodeText() const {
  std::string text;
  for (size_t i = 0; i < codes.size(); ++i) {
    text += i == 0 ? "code " : " or ";
    text += std::to_string(codes[i]);
  }
  return text;
}

std::optional<int> ExplainedError::code() const {
  if (codes.size() != 1) return std::nullopt;
  return codes[0];
}

std::string ExplainedError::Display() const {
  const std::string codeText = CodeText();
  return text + " (" + gloss + (codeText.empty() ? "" : ", " + codeText) + ")";
}

ExplainedError ExplainError(std::string_view utf8Text) {
  ExplainedError explained{std::string(utf8Text), {}, "unknown error text"};
  for (const ErrorGloss& entry : kGlosses) {
    if (entry.text != utf8Text) continue;
    // Texts shared by several codes share their gloss too.
    explained.gloss = entry.gloss;
    explained.codes.push_back(entry.code);
  }
  return explained;
}

}  // namespace tarvo::tools
