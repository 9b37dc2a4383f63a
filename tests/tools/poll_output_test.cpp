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
    const auto at = std::chrono::system_clock::time_point(std::chrono::milliseconds(1714572187250));
    ItemReading ta = Read("TA5.1.2", "OK", at - std::chrono::milliseconds(1500));
    ta.hasValue = true;
    ta.analog = 21.5f;
    ta.name = "boiler flow";
    ta.unit = "°C";
    // Its module's gate stayed shut: the value of an earlier poll, waiting.
    ItemReading wb = Read("WB5.1.2", "延时时间未到", at - std::chrono::seconds(4));
    wb.waiting = true;
    wb.hasValue = true;
    wb.analog = 46.5f;
    ItemReading port = Read("TB5.1.2", "I/O 寄存器超限, 不能运行I/O 读操作！", at);
    ItemReading channel = Read("TB5.9.2", "错误的通道号", at);
    ItemReading write = Read("DO4.2", "OK", at - std::chrono::seconds(2));
    write.className = "Cpxr5700";
    write.write = true;
    write.discrete = true;
    write.discreteValue = 1;
    ItemReading di = Read("DI4.0", "OK", at + std::chrono::milliseconds(1000));
    di.className = "Cpxr5700";
    di.discrete = true;
    di.hasValue = true;
    di.discreteValue = 0;
    first_ = {1, at, {write, ta, wb}, at};
    second_ = {2, at + std::chrono::milliseconds(2005), {di, port, channel}, at};
  }

  static ItemReading Read(const char* item, const char* text,
                          std::chrono::system_clock::time_point at) {
    ItemReading r;
    r.className = "Cpxr5100";
    r.item = item;
    r.error = ExplainError(text);
    r.ok = r.error.ok();
    r.readAt = at;
    return r;
  }

  std::string Show(std::unique_ptr<PollOutput> output) {
    output->Start({"COM255 = /tmp/pxrsim",
                   "9600 8N1",
                   true,
                   2,
                   {{"Cpxr5700", "Tarvo.pxr5700", 100, "an exchange per register read"},
                    {"Cpxr5100", "Tarvo.pxr5100", 136, "a block read per module every 2 s"}}});
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
            "COM255 = /tmp/pxrsim, 9600 8N1, early replies, 2 s between polls\n"
            "  Cpxr5700 (Tarvo.pxr5700), time-out 100 ms: an exchange per register read\n"
            "  Cpxr5100 (Tarvo.pxr5100), time-out 136 ms: a block read per module every 2 s\n"
            "\n"
            "poll 1 at 2024-05-01T14:03:07.250+00:00\n"
            "  CLASS     ITEM     NAME         VALUE  UNIT  AGE  STATUS\n"
            "  Cpxr5700  DO4.2                 := 1         2.0  OK (written)\n"
            "  Cpxr5100  TA5.1.2  boiler flow  21.5   °C    1.5  OK\n"
            "  Cpxr5100  WB5.1.2               46.5         4.0  waiting: 延时时间未到 (delay not "
            "elapsed, code 23)\n"
            "\n"
            "poll 2 at 2024-05-01T14:03:09.255+00:00\n"
            "  CLASS     ITEM     VALUE  AGE  STATUS\n"
            "  Cpxr5700  DI4.0    0      1.0  OK\n"
            "  Cpxr5100  TB5.1.2  -      2.0  I/O 寄存器超限, 不能运行I/O 读操作！ (I/O register "
            "limit exceeded, cannot run the I/O read, code 11)\n"
            "  Cpxr5100  TB5.9.2  -      2.0  错误的通道号 (wrong channel number, code 4 or 19)\n");
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
  const std::string header =
      "poll_time,poll,class,item,op,ok,value,code,error,gloss,time,age,name,unit\n";
  const std::string rows =
      "2024-05-01T14:03:07.250+00:00,1,pxr5700,DO4.2,write,true,1,0,OK,no error,"
      "2024-05-01T14:03:05.250+00:00,2.0,,\n"
      "2024-05-01T14:03:07.250+00:00,1,pxr5100,TA5.1.2,read,true,21.5,0,OK,no error,"
      "2024-05-01T14:03:05.750+00:00,1.5,boiler flow,°C\n"
      "2024-05-01T14:03:07.250+00:00,1,pxr5100,WB5.1.2,read,false,46.5,23,延时时间未到,"
      "delay not elapsed,2024-05-01T14:03:03.250+00:00,4.0,,\n"
      "2024-05-01T14:03:09.255+00:00,2,pxr5700,DI4.0,read,true,0,0,OK,no error,"
      "2024-05-01T14:03:08.250+00:00,1.0,,\n"
      "2024-05-01T14:03:09.255+00:00,2,pxr5100,TB5.1.2,read,false,,11,"
      "\"I/O 寄存器超限, 不能运行I/O 读操作！\",\"I/O register limit exceeded, cannot run "
      "the I/O read\",2024-05-01T14:03:07.250+00:00,2.0,,\n"
      "2024-05-01T14:03:09.255+00:00,2,pxr5100,TB5.9.2,read,false,,,错误的通道号,"
      "wrong channel number,2024-05-01T14:03:07.250+00:00,2.0,,\n";
  EXPECT_EQ(Show(MakeCsvOutput(out_)), header + rows);
}

TEST_F(PollOutputs, JsonLinesOneObjectPerItemPerPoll) {
  EXPECT_EQ(
      Show(MakeJsonOutput(out_)),
      R"({"poll_time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"pxr5700","item":"DO4.2","op":"write","ok":true,"value":1,"code":0,"error":"OK","gloss":"no error","time":"2024-05-01T14:03:05.250+00:00","age":2.0,"waiting":false,"name":"","unit":""}
{"poll_time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"pxr5100","item":"TA5.1.2","op":"read","ok":true,"value":21.5,"code":0,"error":"OK","gloss":"no error","time":"2024-05-01T14:03:05.750+00:00","age":1.5,"waiting":false,"name":"boiler flow","unit":"°C"}
{"poll_time":"2024-05-01T14:03:07.250+00:00","poll":1,"class":"pxr5100","item":"WB5.1.2","op":"read","ok":false,"value":46.5,"code":23,"error":"延时时间未到","gloss":"delay not elapsed","time":"2024-05-01T14:03:03.250+00:00","age":4.0,"waiting":true,"name":"","unit":""}
{"poll_time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"pxr5700","item":"DI4.0","op":"read","ok":true,"value":0,"code":0,"error":"OK","gloss":"no error","time":"2024-05-01T14:03:08.250+00:00","age":1.0,"waiting":false,"name":"","unit":""}
{"poll_time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"pxr5100","item":"TB5.1.2","op":"read","ok":false,"value":null,"code":11,"error":"I/O 寄存器超限, 不能运行I/O 读操作！","gloss":"I/O register limit exceeded, cannot run the I/O read","time":"2024-05-01T14:03:07.250+00:00","age":2.0,"waiting":false,"name":"","unit":""}
{"poll_time":"2024-05-01T14:03:09.255+00:00","poll":2,"class":"pxr5100","item":"TB5.9.2","op":"read","ok":false,"value":null,"code":null,"error":"错误的通道号","gloss":"wrong channel number","time":"2024-05-01T14:03:07.250+00:00","age":2.0,"waiting":false,"name":"","unit":""}
)");
}

// Texts that JSON must escape, or that are not UTF-8, beside plain ones.
TEST_F(PollOutputs, JsonEscapesTextsAsJsonMust) {
  ItemReading r = Read("TA5.1.2", "OK", first_.time);
  r.name = "a \"b\" \\ c\td\x7f";
  r.unit = "\xff\xfe";
  MakeJsonOutput(out_)->Show({3, first_.time, {r}, first_.time});
  EXPECT_EQ(
      out_.str(),
      R"({"poll_time":"2024-05-01T14:03:07.250+00:00","poll":3,"class":"pxr5100","item":"TA5.1.2","op":"read","ok":true,"value":null,"code":0,"error":"OK","gloss":"no error","time":"2024-05-01T14:03:07.250+00:00","age":0.0,"waiting":false,"name":"a \"b\" \\ c\td)"
      "\x7f\",\"unit\":\"\xEF\xBF\xBD\xEF\xBF\xBD\"}\n");
}

TEST(PollValues, TheShortestTextOfTheFloatRead) {
  ItemReading r;
  r.hasValue = true;
  const std::pair<float, const char*> cases[] = {
      {21.5f, "21.5"}, {46.7292f, "46.7292"}, {-0.0625f, "-0.0625"},
      {100.0f, "100"}, {123.45f, "123.45"},   {0.1f, "0.1"},
  };
  for (const auto& [value, text] : cases) {
    r.analog = value;
    EXPECT_EQ(FormatValue(r), text);
  }
  r.hasValue = false;
  EXPECT_EQ(FormatValue(r), "-");
}

}  // namespace
}  // namespace tarvo::tools
