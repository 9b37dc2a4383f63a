// The pxr5700 model's side of the exchanges: which commands it takes, the
// exact bytes it answers, the echo switch and the address faults.
#include <stdexcept>
#include <string>

#include "gtest/gtest.h"
#include "sim/bytes.h"
#include "sim/pxr5700/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

std::string Answer(Module& module, const std::string& command) {
  std::string text;
  for (const Chunk& chunk : module.Respond(ToBytes(command), 0)) text += ToText(chunk.bytes);
  return text;
}

TEST(Pxr5700Model, AnswersEveryRegisterAndTheWrite) {
  Pxr5700Module module(10);
  module.SetInputs(0xA5);
  module.SetOutputs(0x0D);
  module.SetTemperatureRecord(1, {1, 2, 3, 4});
  module.SetTemperatureRecord(2, {5, 6, 7, 8});
  module.SetNumericText(1, "23.45");
  module.SetNumericText(2, "  -1.");
  EXPECT_EQ(Answer(module, "#0A0\r"), ">0A\xA5\r"s);
  EXPECT_EQ(Answer(module, "#0A1\r"), ">0A\r\r"s);
  EXPECT_EQ(Answer(module, "#0A2\r"), ">0A2,23.45,  -1.\r"s);
  EXPECT_EQ(Answer(module, "#0A3\r"), ">0A3,\x01\x02\x03\x04\x05\x06\x07\x08\r"s);
  EXPECT_EQ(Answer(module, "/0A\x80\r"), "!0A\x80\r"s);
  EXPECT_EQ(module.outputs(), 0x80);
  EXPECT_EQ(Answer(module, "#0A1\r"), ">0A\x80\r"s);
  // Another register code: taken, not answered.
  EXPECT_EQ(Answer(module, "#0A4\r"), "");
  EXPECT_EQ(Answer(module, "#0Ax\r"), "");
}

TEST(Pxr5700Model, EchoesAnotherByteWhenSwitched) {
  Pxr5700Module module(1);
  module.SetEchoOverride(0x7E);
  EXPECT_EQ(Answer(module, "/01\x03\r"), "!01\x7E\r"s);
  EXPECT_EQ(module.outputs(), 0x03);
  module.SetEchoOverride(std::nullopt);
  EXPECT_EQ(Answer(module, "/01\x04\r"), "!01\x04\r"s);
  // A silent module still switches its outputs.
  module.SetFaults({.silent = true}, 1);
  EXPECT_EQ(Answer(module, "/01\x09\r"), "");
  EXPECT_EQ(module.outputs(), 0x09);
}

TEST(Pxr5700Model, AddressFaultsWriteUpperCaseDigits) {
  Pxr5700Module module(0x2A);
  module.SetFaults({.fromAddress = 0x3B}, 1);
  EXPECT_EQ(Answer(module, "#2A0\r"), ">3B\x00\r"s);
  module.SetFaults({.swapAddressCase = true}, 1);
  EXPECT_EQ(Answer(module, "#2A0\r"), ">2a\x00\r"s);
}

struct FrameCase {
  std::string head;
  FrameStatus status;
  size_t length;
};

class Pxr5700Framing : public ::testing::TestWithParam<FrameCase> {};

TEST_P(Pxr5700Framing, TakesOnlyItsOwnCommands) {
  const Pxr5700Module module(10);
  const FrameCase& c = GetParam();
  const Frame frame = module.FrameCommand(ToBytes(c.head));
  EXPECT_EQ(frame.status, c.status);
  EXPECT_EQ(frame.length, c.length);
}

constexpr FrameStatus kMine = FrameStatus::kComplete;
constexpr FrameStatus kMore = FrameStatus::kIncomplete;
constexpr FrameStatus kNot = FrameStatus::kNotMine;

INSTANTIATE_TEST_SUITE_P(
    Heads, Pxr5700Framing,
    ::testing::Values(FrameCase{"#0A0\r", kMine, 5}, FrameCase{"/0A\r\r", kMine, 5},
                      FrameCase{"/0A\r\r#0A1\r", kMine, 5}, FrameCase{"/0A\r", kMore, 0},
                      FrameCase{"/0A", kMore, 0}, FrameCase{"#", kMore, 0},
                      FrameCase{"#0a0\r", kNot, 0}, FrameCase{"/0B\x01\r", kNot, 0},
                      FrameCase{"/0A\x01\x01", kNot, 0}, FrameCase{"*0A0\r", kNot, 0},
                      FrameCase{"!0A\x01\r", kNot, 0}),
    [](const auto& info) { return "Head" + std::to_string(info.index); });

TEST(Pxr5700Model, RefusesChannelsAndTextsItLacks) {
  Pxr5700Module module(0);
  EXPECT_THROW(module.SetTemperatureRecord(0, {}), std::out_of_range);
  EXPECT_THROW(module.SetTemperatureRecord(3, {}), std::out_of_range);
  EXPECT_THROW(module.SetNumericText(0, "12345"), std::out_of_range);
  EXPECT_THROW(module.SetNumericText(1, "1234"), std::invalid_argument);
  EXPECT_THROW(module.SetNumericText(1, "123456"), std::invalid_argument);
  EXPECT_THROW(Pxr5700Module(256), std::out_of_range);
}

}  // namespace
}  // namespace tarvo::sim
