// tarvo-poll's use of IIoDriver, against a scripted driver object: the data
// type each item is parsed with, what counts as a failure, and which
// writes are refused before they reach the driver.
#include "tools/plant/poll_session.h"

#include <cstring>
#include <deque>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "tools/poll/poll_statistics.h"

namespace tarvo::tools {
namespace {

// A driver object whose results and error texts a test scripts.
class ScriptedDriver final : public IIoDriver {
 public:
  ScriptedDriver() {
    AddRegister("TA", kAccessRead, kDataTypeFloat);
    AddRegister("DO", kAccessReadWrite, kDataTypeDiscrete);
    AddRegister("DI", kAccessRead, kDataTypeDiscrete);
  }

  struct Step {
    int32_t result;
    const char* text;  // GBK
    float analog = 0;
    uint32_t discrete = 0;
  };
  std::deque<Step> steps;
  std::vector<std::string> parsed;  // address and data type of each ParseItem
  std::vector<uint32_t> written;    // DiscreteValue of each WriteItem

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  int32_t STDMETHODCALLTYPE ReservedA(int32_t) override { return 1; }
  int32_t STDMETHODCALLTYPE OpenPort(PortConfig*) override { return 1; }
  void STDMETHODCALLTYPE GetRegisterTable(RegisterDesc** table, int16_t* count) override {
    *table = table_.data();
    *count = static_cast<int16_t>(table_.size());
  }
  int32_t STDMETHODCALLTYPE ParseItem(const char* address, IoItem* item) override {
    parsed.push_back(std::string(address) + "/" + std::to_string(item->DataType));
    return Next(nullptr);
  }
  int32_t STDMETHODCALLTYPE ReservedB(int32_t, int32_t) override { return 1; }
  int32_t STDMETHODCALLTYPE ReadItem(int32_t, IoItem*, IoValue* value) override {
    return Next(value);
  }
  int32_t STDMETHODCALLTYPE WriteItem(int32_t, IoItem*, IoValue* value) override {
    written.push_back(value->DiscreteValue);
    return Next(nullptr);
  }
  int32_t STDMETHODCALLTYPE ClosePort(int32_t) override { return 1; }
  const char* STDMETHODCALLTYPE GetErrorText() override {
    const char* text = text_;
    text_ = "OK";
    return text;
  }

 private:
  void AddRegister(const char* name, int32_t access, int32_t type) {
    RegisterDesc entry{};
    std::strcpy(entry.Name, name);
    entry.Access = access;
    entry.DataType1 = entry.DataType2 = type;
    table_.push_back(entry);
  }
  int32_t Next(IoValue* value) {
    if (steps.empty()) return 1;
    const Step step = steps.front();
    steps.pop_front();
    text_ = step.text;
    if (value != nullptr) {
      value->AnalogValue = step.analog;
      value->DiscreteValue = step.discrete;
    }
    return step.result;
  }
  std::vector<RegisterDesc> table_;
  const char* text_ = "OK";
};

// The library's own GBK texts.
const char* const kDelay = ErrorText(ErrDelayNotElapsed);
const char* const kWriteError = ErrorText(ErrPortWrite);

TEST(PollSession, ParsesEachItemWithItsRegistersDataType) {
  ScriptedDriver driver;
  PollSession session(&driver);
  std::string error;
  EXPECT_TRUE(session.AddRead("TA5.1.2", &error));
  EXPECT_TRUE(session.AddRead("di4.0", &error));
  EXPECT_TRUE(session.AddRead("do4.1", &error));
  // A name the driver does not list is its to refuse: parsed as a float.
  EXPECT_TRUE(session.AddRead("XY1.2", &error));
  EXPECT_EQ(driver.parsed,
            (std::vector<std::string>{"TA5.1.2/128", "di4.0/1", "do4.1/1", "XY1.2/128"}));
}

TEST(PollSession, AnAddressTheDriverRefusesIsReportedWithItsText) {
  ScriptedDriver driver;
  driver.steps = {{0, ErrorText(ErrRegisterUnsupported)}, {0, "OK"}};
  PollSession session(&driver);
  std::string error;
  EXPECT_FALSE(session.AddRead("TX5.1.2", &error));
  EXPECT_EQ(error, "TX5.1.2: 不支持该寄存器 (register not supported, code 1)");
  // A refusal without a code is still a refusal.
  EXPECT_FALSE(session.AddRead("TA5.1.2", &error));
  EXPECT_EQ(error, "TA5.1.2: (none) (the driver failed without an error code)");
  EXPECT_EQ(session.reads(), 0u);
}

TEST(PollSession, ReadsEachItemAndTakesItsErrorText) {
  ScriptedDriver driver;
  PollSession session(&driver);
  std::string error;
  ASSERT_TRUE(session.AddRead("TA5.1.2", &error));
  ASSERT_TRUE(session.AddRead("DI4.0", &error));
  ASSERT_TRUE(session.AddRead("TA5.1.3", &error));
  ASSERT_TRUE(session.AddRead("TA5.1.4", &error));
  driver.steps = {
      {1, "OK", 21.5f},
      {1, "OK", 0, 1},
      {0, kDelay, 99.0f},
      // Result 1 with a code kept: a command the driver could not send.
      {1, kWriteError, 99.0f},
  };
  const std::vector<ItemReading> readings = session.Read();
  ASSERT_EQ(readings.size(), 4u);
  EXPECT_TRUE(readings[0].ok);
  EXPECT_FALSE(readings[0].discrete);
  EXPECT_EQ(readings[0].analog, 21.5f);
  EXPECT_TRUE(readings[1].ok);
  EXPECT_TRUE(readings[1].discrete);
  EXPECT_EQ(readings[1].discreteValue, 1u);
  EXPECT_FALSE(readings[2].ok);
  EXPECT_EQ(readings[2].error.Display(), "延时时间未到 (delay not elapsed, code 23)");
  EXPECT_EQ(readings[2].analog, 0.0f);  // a failed read's value is not shown
  EXPECT_FALSE(readings[3].ok);
  EXPECT_EQ(readings[3].error.Display(),
            "写串行通信端口错！ (error writing the serial port, code 16)");

  PollStatistics statistics;
  statistics.CountPoll();
  statistics.Count(readings);
  statistics.CountPoll();
  statistics.Count({readings[2]});
  EXPECT_EQ(statistics.Report(),
            "--- 2 polls, 2 values read, 3 failures\n"
            "     2  延时时间未到 (delay not elapsed, code 23)\n"
            "     1  写串行通信端口错！ (error writing the serial port, code 16)\n");
}

TEST(PollSession, WritesOnlyWhatTheDriverDeclaresWritable) {
  ScriptedDriver driver;
  PollSession session(&driver);
  std::string error;
  struct Case {
    const char* assignment;
    const char* error;  // empty: accepted
  };
  const Case cases[] = {
      {"DO4.1=1", ""},
      {"do4.2=off", ""},
      {"DO4.3=True", ""},
      {"DO4.4=0", ""},
      {"DO4.5=2", "DO4.5=2: the value must be 0, 1, on, off, true or false"},
      {"DO4.6=yes", "DO4.6=yes: the value must be 0, 1, on, off, true or false"},
      {"TA5.1.2=1", "TA5.1.2=1: register TA cannot be written (read only)"},
      {"DI4.0=1", "DI4.0=1: register DI cannot be written (read only)"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_EQ(session.AddWrite(c.assignment, &error), *c.error == '\0') << c.assignment;
    EXPECT_EQ(error, c.error);
  }
  EXPECT_EQ(driver.parsed, (std::vector<std::string>{"DO4.1/1", "do4.2/1", "DO4.3/1", "DO4.4/1"}));

  driver.steps = {{1, "OK"}, {1, "OK"}, {0, kWriteError}, {1, kWriteError}};
  const std::vector<ItemReading> readings = session.Write();
  EXPECT_EQ(driver.written, (std::vector<uint32_t>{1, 0, 1, 0}));
  ASSERT_EQ(readings.size(), 4u);
  EXPECT_TRUE(readings[0].ok && readings[0].write && readings[0].discrete);
  EXPECT_EQ(readings[0].item, "DO4.1");
  EXPECT_TRUE(readings[1].ok);
  EXPECT_FALSE(readings[2].ok);
  EXPECT_FALSE(readings[3].ok);
  EXPECT_EQ(readings[3].error.code(), 16);
}

}  // namespace
}  // namespace tarvo::tools
