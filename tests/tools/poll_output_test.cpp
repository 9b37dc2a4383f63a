// tarvo-poll's three outputs for the same polls, byte for byte.
#include "tools/poll/poll_output.h"

#include <sstream>

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

class PollOutputs : public testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    ItemReading ta;
    ta.item = "TA5.1.2";
    ta.ok = true;
    ta.analog = 21.5f;
    ta.error = ExplainError("OK");
    ItemReading wb;
    wb.item = "WB5.1.2";
    wb.ok = false;
    wb.error = ExplainError("延时时间未到");
    ItemReading port;  // a text with a comma and one shared by two codes
    port.item = "TB5.1.2";
    port.ok = false;
    port.error = ExplainError("I/O 寄存器超限, 不能运行I/O 读操作！");
    ItemReading channel;
    channel.item = "TB5.9.2";
    channel.error = ExplainError("错误的通道号");
    ItemReading write;
    write.item = "DO4.2";
    write.write = true;
    write.discrete = true;
    write.ok = true;
    write.discreteValue = 1;
    write.error = ExplainError("OK");
    ItemReading di;
    di.item = "DI4.0";
    di.discrete = true;
    di.ok = true;
    di.discreteValue = 0;
    di.error = ExplainError("OK");
    first_ = {1,
              std::chrono::system_clock::time_point(std::chrono::milliseconds(1714572187250)),
              {write, ta, wb}};
    second_ = {2, first_.time + std::chrono::milliseconds(2005), {di, port, channel}};
  }

  std::string Show(std::unique_ptr<PollOutput> output) {
    output->Start({"Cpxr5100", "Tarvo.pxr5100", "COM255 = /tmp/pxrsim", "9600 8N1", 300, 2});
    output->Show(first_);
    output->Show(second_);
    return out_.str();
  }

  std::ostringstream out_;
  PollRecord first_;
  PollRecord second_;
};

TEST_F(PollOutputs, TableOnePollAfterTheOther) {
  EXPECT_EQ(Show(MakeTableOutput(out_, false)),
            "Cpxr5100 (Tarvo.pxr5100) on COM255 = /tmp/pxrsim, 9600 8N1, time-out 300 ms, 2 s "
            "between polls\n"
            "\n"
            "poll 1 at 2024-05-01T14:03:07.250+00:00\n"
            "  ITEM     VALUE  STATUS\n"
            "  DO4.2    := 1   OK (written)\n"
            "  TA5.1.2  21.5   OK\n"
            "  WB5.1.2  -      延时时间未到 (delay not elapsed, code 23)\n"
            "\n"
            "poll 2 at 2024-05-01T14:03:09.255+00:00\n"
            "  ITEM     VALUE  STATUS\n"
            "  DI4.0    0      OK\n"
            "  TB5.1.2  -      I/O 寄存器超限, 不能运行I/O 读操作！ (I/O register limit exceeded, "
            "cannot run the I/O read, code 11)\n"
            "  TB5.9.2  -      错误的通道号 (wrong channel number, code 4 or 19)\n");
}

TEST_F(PollOutputs, TableInPlaceGoesBackOverThePreviousPoll) {
  const std::string text = Show(MakeTableOutput(out_, true));
  // The second poll starts by moving up the first one's 6 lines and
  // clearing them.
  const size_t second = text.find("\x1b[6F\x1b[J\npoll 2 at");
  ASSERT_NE(second, std::string::npos) << text;
  EXPECT_EQ(text.find("\x1b["), second);
}

TEST_F(PollOutputs, CsvOneRowPerItemPerPoll) {
  EXPECT_EQ(Show(MakeCsvOutput(out_, "Cpxr5100")),
            "time,poll,class,item,op,ok,value,code,text,gloss\n"
            "2024-05-01T14:03:07.250+00:00,1,Cpxr5100,DO4.2,write,true,1,0,OK,no error\n"
            "2024-05-01T14:03:07.250+00:00,1,Cpxr5100,TA5.1.2,read,true,21.5,0,OK,no error\n"
            "2024-05-01T14:03:07.250+00:00,1,Cpxr5100,WB5.1.2,read,false,,23,延时时间未到,"
            "delay not elapsed\n"
            "2024-05-01T14:03:09.255+00:00,2,Cpxr5100,DI4.0,read,true,0,0,OK,no error\n"
            "2024-05-01T14:03:09.255+00:00,2,Cpxr5100,TB5.1.2,read,false,,11,"
            "\"I/O 寄存器超限, 不能运行I/O 读操作！\",\"I/O register limit exceeded, cannot run "
            "the I/O read\"\n"
            "2024-05-01T14:03:09.255+00:00,2,Cpxr5100,TB5.9.2,read,false,,,错误的通道号,"
            "wrong channel number\n");
}

TEST_F(PollOutputs, JsonLinesOneObjectPerItemPerPoll) {
  EXPECT_EQ(
      Show(MakeJsonOutput(out_, "Cpxr5100")),
      R"({"time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"Cpxr5100","item":"DO4.2","op":"write","ok":true,"value":1,"code":0,"text":"OK","gloss":"no error"}
{"time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"Cpxr5100","item":"TA5.1.2","op":"read","ok":true,"value":21.5,"code":0,"text":"OK","gloss":"no error"}
{"time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"Cpxr5100","item":"WB5.1.2","op":"read","ok":false,"value":null,"code":23,"text":"延时时间未到","gloss":"delay not elapsed"}
{"time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"Cpxr5100","item":"DI4.0","op":"read","ok":true,"value":0,"code":0,"text":"OK","gloss":"no error"}
{"time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"Cpxr5100","item":"TB5.1.2","op":"read","ok":false,"value":null,"code":11,"text":"I/O 寄存器超限, 不能运行I/O 读操作！","gloss":"I/O register limit exceeded, cannot run the I/O read"}
{"time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"Cpxr5100","item":"TB5.9.2","op":"read","ok":false,"value":null,"code":null,"text":"错误的通道号","gloss":"wrong channel number"}
)");
}

TEST(PollValues, TheShortestTextOfTheFloatRead) {
  ItemReading r;
  r.ok = true;
  const std::pair<float, const char*> cases[] = {
      {21.5f, "21.5"}, {46.7292f, "46.7292"}, {-0.0625f, "-0.0625"},
      {100.0f, "100"}, {123.45f, "123.45"},   {0.1f, "0.1"},
  };
  for (const auto& [value, text] : cases) {
    r.analog = value;
    EXPECT_EQ(FormatValue(r), text);
  }
  r.ok = false;
  EXPECT_EQ(FormatValue(r), "-");
}

}  // namespace
}  // namespace tarvo::tools
