// Reading over the fake line: what goes on the wire, how one reply serves
// several reads, and what every failure leaves behind.
#include <string>
#include <vector>

#include "unit/pxr5700/fixture.h"

namespace tarvo::test {
namespace {

using namespace std::string_literals;
using Pxr5700Read = Pxr5700Line;

TEST_F(Pxr5700Read, OneExchangeServesAllEightInputs) {
  module.SetInputs(0x08);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDI, 10, 3), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  EXPECT_EQ(value.AnalogValue, -999.0f);
  EXPECT_EQ(Commands(), std::vector<std::string>{"#0A0\r"});
  EXPECT_EQ(clock().sleeps(), std::vector<uint32_t>{kTimeoutMs});
  for (int16_t channel : {0, 1, 2, 4, 5, 6, 7}) {
    value = Untouched();
    ASSERT_EQ(Read(Item(kDI, 10, channel), &value), 1);
    EXPECT_EQ(value.DiscreteValue, 0u) << channel;
  }
  EXPECT_EQ(Commands().size(), 1u);
  EXPECT_EQ(driver.ErrorCode(), ErrOk);
}

TEST_F(Pxr5700Read, ReadingTheSameChannelTwiceAsksTwice) {
  module.SetInputs(0x20);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDI, 10, 5), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  module.SetInputs(0x00);
  ASSERT_EQ(Read(Item(kDI, 10, 5), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 0u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"#0A0\r", "#0A0\r"}));
}

TEST_F(Pxr5700Read, CommandsCarryTheRegisterCodeAndUpperCaseAddress) {
  bus.Emplace<sim::Pxr5700Module>(0);
  bus.Emplace<sim::Pxr5700Module>(127);
  struct Case {
    IoItem item;
    std::string command;
  };
  const Case cases[] = {{Item(kDI, 0, 0), "#000\r"},   {Item(kDO, 127, 7), "#7F1\r"},
                        {Item(kWI, 10, 1), "#0A2\r"},  {Item(kTA, 10, 2), "#0A3\r"},
                        {Item(kTB, 127, 1), "#7F3\r"}, {Item(kDO, 0, 0), "#001\r"}};
  for (const Case& c : cases) {
    IoValue value = Untouched();
    EXPECT_EQ(Read(c.item, &value), 1) << c.command;
    ASSERT_FALSE(Commands().empty());
    EXPECT_EQ(Commands().back(), c.command);
  }
  EXPECT_EQ(Commands().size(), std::size(cases));
}

TEST_F(Pxr5700Read, OutputsAreReadAsBits) {
  module.SetOutputs(0x81);
  const uint32_t expected[8] = {1, 0, 0, 0, 0, 0, 0, 1};
  for (int16_t channel = 7; channel >= 0; --channel) {
    IoValue value = Untouched();
    ASSERT_EQ(Read(Item(kDO, 10, channel), &value), 1);
    EXPECT_EQ(value.DiscreteValue, expected[channel]) << channel;
  }
  EXPECT_EQ(Commands(), std::vector<std::string>{"#0A1\r"});
}

TEST_F(Pxr5700Read, TemperatureReadingsAreSharedByTaAndTb) {
  module.SetTemperatureRecord(1, {50, 0x00, 12, 16});   // TA 25.0, TB 3.125
  module.SetTemperatureRecord(2, {206, 0xFF, 12, 16});  // TA -25.5, TB -3.125
  struct Step {
    int16_t reg, channel;
    float value;
    size_t commands;  // after the read
  };
  const Step steps[] = {
      {kTA, 1, 25.0f, 1},  {kTB, 2, -3.125f, 1},  // one reply, both channels
      {kTB, 1, 3.125f, 2},                        // TA took channel 1's reading
      {kTA, 2, -25.5f, 2}, {kTA, 1, 25.0f, 3},
  };
  for (const Step& step : steps) {
    IoValue value = Untouched();
    ASSERT_EQ(Read(Item(step.reg, 10, step.channel), &value), 1);
    EXPECT_EQ(value.AnalogValue, step.value) << step.reg << "." << step.channel;
    EXPECT_EQ(value.DiscreteValue, 0xDEADu);
    EXPECT_EQ(Commands().size(), step.commands) << step.reg << "." << step.channel;
  }
}

TEST_F(Pxr5700Read, NumericTextsAreReadAsNumbers) {
  struct Case {
    const char* first;
    const char* second;
    float values[2];
  };
  const Case cases[] = {{"23.45", "  -1.", {23.45f, -1.0f}}, {"abcde", "1e3  ", {0.0f, 1000.0f}}};
  for (const Case& c : cases) {
    module.SetNumericText(1, c.first);
    module.SetNumericText(2, c.second);
    for (int16_t channel : {1, 2}) {
      IoValue value = Untouched();
      ASSERT_EQ(Read(Item(kWI, 10, channel), &value), 1);
      EXPECT_EQ(value.AnalogValue, c.values[channel - 1]) << c.first << "|" << c.second;
    }
  }
  EXPECT_EQ(Commands(), (std::vector<std::string>{"#0A2\r", "#0A2\r"}));
}

TEST_F(Pxr5700Read, ASilentModuleCostsOneTimeOut) {
  module.SetFaults({.silent = true});
  IoValue value = Untouched();
  EXPECT_EQ(Read(Item(kTA, 10, 1), &value), 0);
  EXPECT_EQ(driver.ErrorCode(), ErrPortRead);
  EXPECT_EQ(clock().sleeps(), std::vector<uint32_t>{kTimeoutMs});
  EXPECT_EQ(clock().NowMs(), kTimeoutMs);
  EXPECT_EQ(value.AnalogValue, -999.0f);
  EXPECT_EQ(value.DiscreteValue, 0xDEADu);
}

TEST_F(Pxr5700Read, ALateReplyIsNotTakenForTheNextCommand) {
  module.SetInputs(0xFF);
  module.SetOutputs(0x00);
  module.SetFaults({.delayMs = kTimeoutMs + 50}, 1);
  IoValue value = Untouched();
  EXPECT_EQ(Read(Item(kDI, 10, 0), &value), 0);
  EXPECT_EQ(driver.ErrorCode(), ErrPortRead);
  clock().Advance(1000);  // the host's polling interval; the input reply arrives
  ASSERT_EQ(Read(Item(kDO, 10, 0), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 0u);
  // The late reply filled nothing either.
  ASSERT_EQ(Read(Item(kDI, 10, 1), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"#0A0\r", "#0A1\r", "#0A0\r"}));
}

TEST_F(Pxr5700Read, RepliesThatAreNotWholeRepliesAreRefused) {
  struct Case {
    int16_t reg, channel;
    sim::Faults faults;
  };
  const Case cases[] = {
      {kDI, 0, {.head = '?'}},      {kDI, 0, {.truncateTo = 3}},
      {kTA, 2, {.truncateTo = 12}}, {kTB, 1, {.truncateTo = 1}},
      {kWI, 1, {.truncateTo = 15}}, {kDO, 7, {.noise = {.count = 2, .fixed = '#'}}},
      {kWI, 2, {.head = '!'}},
  };
  module.SetInputs(0xFF);
  module.SetOutputs(0xFF);
  module.SetTemperatureRecord(1, {50, 0, 12, 16});
  module.SetTemperatureRecord(2, {50, 0, 12, 16});
  module.SetNumericText(1, "11111");
  module.SetNumericText(2, "22222");
  for (const Case& c : cases) {
    { Cpxr5700 forget; }  // the previous case left the other channel's value
    module.SetFaults(c.faults, 1);
    IoValue value = Untouched();
    EXPECT_EQ(Read(Item(c.reg, 10, c.channel), &value), 0) << c.reg;
    EXPECT_EQ(driver.ErrorCode(), ErrPortRead) << c.reg;
    EXPECT_EQ(value.DiscreteValue, 0xDEADu);
    EXPECT_EQ(value.AnalogValue, -999.0f);
    // Nothing was kept from it: the next read asks again and succeeds.
    const size_t before = Commands().size();
    EXPECT_EQ(Read(Item(c.reg, 10, c.channel), &value), 1) << c.reg;
    EXPECT_EQ(Commands().size(), before + 1);
  }
}

TEST_F(Pxr5700Read, LineFailures) {
  struct Case {
    FakeOp op;
    DriverError code;
    std::vector<uint32_t> sleeps;
  };
  const Case cases[] = {{FakeOp::Write, ErrPortWrite, {}},
                        {FakeOp::ClearError, ErrPortRead, {kTimeoutMs}},
                        {FakeOp::Read, ErrPortRead, {kTimeoutMs}}};
  size_t slept = 0;
  for (const Case& c : cases) {
    line().FailNext(c.op);
    IoValue value = Untouched();
    EXPECT_EQ(Read(Item(kDI, 10, 0), &value), 0);
    EXPECT_EQ(driver.ErrorCode(), c.code);
    EXPECT_EQ(value.DiscreteValue, 0xDEADu);
    const std::vector<uint32_t>& sleeps = clock().sleeps();
    EXPECT_EQ(
        std::vector<uint32_t>(sleeps.begin() + static_cast<std::ptrdiff_t>(slept), sleeps.end()),
        c.sleeps);
    slept = sleeps.size();
  }
  // A closed line: the command cannot be written.
  driver.ClosePort();
  IoValue value = Untouched();
  EXPECT_EQ(Read(Item(kDI, 10, 0), &value), 0);
  EXPECT_EQ(driver.ErrorCode(), ErrPortWrite);
}

TEST_F(Pxr5700Read, TheTimeOutIsAtLeast100Ms) {
  driver.Port().SetTimeout(40);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDI, 10, 0), &value), 1);
  EXPECT_EQ(clock().sleeps(), std::vector<uint32_t>{100});
}

TEST_F(Pxr5700Read, ItemsParseItemCannotProduceAreRefused) {
  struct Case {
    IoItem item;
    DriverError code;
  };
  const Case cases[] = {
      {Item(5, 10, 0), ErrRegisterUnsupported},    {Item(-1, 10, 0), ErrRegisterUnsupported},
      {Item(kDI, 128, 0), ErrRegisterUnsupported}, {Item(kDI, -1, 0), ErrRegisterUnsupported},
      {Item(kWI, 266, 1), ErrRegisterUnsupported}, {Item(kDI, 10, 8), ErrChannelNumber},
      {Item(kDO, 10, -1), ErrChannelNumber},       {Item(kTA, 10, 0), ErrChannelNumber},
      {Item(kWI, 10, 3), ErrChannelNumber},
  };
  for (const Case& c : cases) {
    IoValue value = Untouched();
    EXPECT_EQ(Read(c.item, &value), 0);
    EXPECT_EQ(driver.ErrorCode(), c.code);
    EXPECT_EQ(value.DiscreteValue, 0xDEADu);
    EXPECT_EQ(value.AnalogValue, -999.0f);
    EXPECT_EQ(Write(c.item, 1), 0);
    EXPECT_EQ(driver.ErrorCode(), c.item.RegisterIndex == kDO ? c.code : ErrRegisterUnsupported);
  }
  EXPECT_TRUE(Commands().empty());
}

TEST_F(Pxr5700Read, EveryNewObjectForgetsWhatWasReceived) {
  module.SetInputs(0x03);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDI, 10, 0), &value), 1);
  { Cpxr5700 other; }
  ASSERT_EQ(Read(Item(kDI, 10, 1), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  EXPECT_EQ(Commands().size(), 2u);
}

}  // namespace
}  // namespace tarvo::test
