// Writing outputs over the fake line: the output byte on the wire, the
// echo, the memory of the other outputs, and the trace of the traffic.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/trace.h"
#include "unit/pxr5700/fixture.h"

namespace tarvo::test {
namespace {

using namespace std::string_literals;
using Pxr5700Write = Pxr5700Line;

TEST_F(Pxr5700Write, SwitchesOneOutputConfirmedByTheEcho) {
  auto& two = bus.Emplace<sim::Pxr5700Module>(2);
  ASSERT_EQ(Write(Item(kDO, 2, 7), 1), 1);
  EXPECT_EQ(driver.ErrorCode(), ErrOk);
  ASSERT_EQ(line().writes().size(), 1u);
  EXPECT_EQ(line().writes()[0].bytes, (std::vector<uint8_t>{'/', '0', '2', 0x80, 0x0D}));
  EXPECT_EQ(two.outputs(), 0x80);
  EXPECT_EQ(clock().sleeps(), std::vector<uint32_t>{kTimeoutMs});
}

TEST_F(Pxr5700Write, OnlyTheValueOneSwitchesOn) {
  struct Step {
    int16_t channel;
    uint32_t value;
    uint8_t sent;
  };
  const Step steps[] = {{0, 1, 0x01}, {1, 2, 0x01},          {2, 1, 0x05},
                        {0, 0, 0x04}, {2, 0xFFFFFFFF, 0x00}, {2, 0x101, 0x00}};
  for (const Step& step : steps) {
    ASSERT_EQ(Write(Item(kDO, 10, step.channel), step.value), 1) << step.value;
    EXPECT_EQ(line().writes().back().bytes[3], step.sent) << step.value;
    EXPECT_EQ(module.outputs(), step.sent);
  }
}

TEST_F(Pxr5700Write, TheOtherOutputsAreSentAsLastReadOrWritten) {
  module.SetOutputs(0x41);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDO, 10, 0), &value), 1);
  ASSERT_EQ(Write(Item(kDO, 10, 7), 1), 1);
  EXPECT_EQ(Commands().back(), "/0A\xC1\r"s);
  // A write that fails keeps its value for the next one.
  line().FailNext(FakeOp::Write);
  EXPECT_EQ(Write(Item(kDO, 10, 1), 1), 0);
  EXPECT_EQ(driver.ErrorCode(), ErrPortWrite);
  ASSERT_EQ(Write(Item(kDO, 10, 0), 0), 1);
  EXPECT_EQ(Commands().back(), "/0A\xC2\r"s);
}

TEST_F(Pxr5700Write, AWrittenOutputIsReadFromTheModuleAgain) {
  module.SetOutputs(0x00);
  IoValue value = Untouched();
  ASSERT_EQ(Read(Item(kDO, 10, 0), &value), 1);  // all eight outputs kept
  // The command never reaches the module: what it reports still counts.
  line().FailNext(FakeOp::Write);
  EXPECT_EQ(Write(Item(kDO, 10, 3), 1), 0);
  ASSERT_EQ(Read(Item(kDO, 10, 3), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 0u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"#0A1\r", "#0A1\r"}));
  // After a good write too; the outputs not written stay served from the reply.
  ASSERT_EQ(Write(Item(kDO, 10, 5), 1), 1);
  ASSERT_EQ(Read(Item(kDO, 10, 4), &value), 1);
  ASSERT_EQ(Read(Item(kDO, 10, 5), &value), 1);
  EXPECT_EQ(value.DiscreteValue, 1u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"#0A1\r", "#0A1\r", "/0A\x20\r", "#0A1\r"}));
}

TEST_F(Pxr5700Write, FailuresAndTheirCodes) {
  struct Case {
    const char* what;
    sim::Faults faults;
    std::optional<uint8_t> echo;
    DriverError code;
  };
  const Case cases[] = {
      {"another echo", {}, 0x00, ErrPortWrite},
      {"silent", {.silent = true}, {}, ErrPortRead},
      {"read reply head", {.head = '>'}, {}, ErrPortRead},
      {"no echo byte", {.truncateTo = 3}, {}, ErrPortRead},
  };
  for (const Case& c : cases) {
    module.SetFaults(c.faults, 1);
    module.SetEchoOverride(c.echo);
    EXPECT_EQ(Write(Item(kDO, 10, 0), 1), 0) << c.what;
    EXPECT_EQ(driver.ErrorCode(), c.code) << c.what;
  }
  module.SetEchoOverride({});
  EXPECT_EQ(Write(Item(kDO, 10, 0), 1), 1);
}

TEST_F(Pxr5700Write, OnlyOutputsAreWritten) {
  for (int16_t reg : {kDI, kTA, kTB, kWI}) {
    EXPECT_EQ(Write(Item(reg, 10, 1), 1), 0) << reg;
    EXPECT_EQ(driver.ErrorCode(), ErrRegisterUnsupported);
  }
  EXPECT_TRUE(line().writes().empty());
}

TEST_F(Pxr5700Write, AnOutputByteOfCarriageReturnGoesOutWhole) {
  for (int16_t channel : {0, 2, 3}) ASSERT_EQ(Write(Item(kDO, 10, channel), 1), 1);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"/0A\x01\r", "/0A\x05\r", "/0A\r\r"}));
  EXPECT_EQ(module.outputs(), 0x0D);
  EXPECT_TRUE(bus.log().Dropped().empty());
}

TEST_F(Pxr5700Write, TrafficGoesToTheTraceHandler) {
  struct Traced {
    std::string label;
    std::string bytes;
  };
  std::vector<Traced> traced;
  SetTraceHandler(
      [](void* context, const char* label, const uint8_t* bytes, int32_t count) {
        static_cast<std::vector<Traced>*>(context)->push_back(
            {label, std::string(reinterpret_cast<const char*>(bytes), static_cast<size_t>(count))});
      },
      &traced);
  module.SetInputs(0x02);
  IoValue value = Untouched();
  const int32_t read = Read(Item(kDI, 10, 1), &value);
  const int32_t written = Write(Item(kDO, 10, 6), 1);
  SetTraceHandler(nullptr, nullptr);
  ASSERT_EQ(read, 1);
  ASSERT_EQ(written, 1);
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"Read Send", "#0A0\r"},
      {"Read Receive", ">0A\x02\r"},
      {"Write Send", "/0A\x40\r"},
      {"Write Receive", "!0A\x40\r"}};
  ASSERT_EQ(traced.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(traced[i].label, expected[i].first);
    EXPECT_EQ(traced[i].bytes, expected[i].second);
  }
}

}  // namespace
}  // namespace tarvo::test
