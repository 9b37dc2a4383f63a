// The simulated sensor modules: the commands they take and the exact bytes
// they answer, and records whose bytes the drivers' conversions read back.
#include <string>

#include "gtest/gtest.h"
#include "sensors/conversions.h"
#include "sim/bytes.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

std::string Answer(Module& module, const std::string& command) {
  std::string text;
  for (const Chunk& chunk : module.Respond(ToBytes(command), 0)) text += ToText(chunk.bytes);
  return text;
}

TEST(Pxr5303Model, AnswersSummaryListAndBlock) {
  Pxr5303Module module(10);
  module.SetRecord(0, 9, {1, 2, 3, 4});
  module.SetRecord(0, 2, {5, 6, 7, 8});
  module.SetRecord(2, 15, {0xAA, 0x20, 0x91, 0x01});
  EXPECT_EQ(Answer(module, "$0A6\r"), "!0A05\x02\x00\x01"s);
  EXPECT_EQ(Answer(module, "*0A0\r"), ">0A0\x02\x02\x09\r"s);
  EXPECT_EQ(Answer(module, "*0A1\r"), ">0A1\x00\r"s);
  // Channel 2's record carries its point number in b0.
  EXPECT_EQ(Answer(module, "#0A8\r"), ">0A8\x03\x05\x06\x07\x08\x01\x02\x03\x04\x0F\x20\x91\x01"s);
  for (const char* unanswered : {"$0A5\r", "*0A3\r", "#0A0\r"}) {
    EXPECT_EQ(module.FrameCommand(ToBytes(unanswered)).status, FrameStatus::kComplete);
    EXPECT_EQ(Answer(module, unanswered), "") << unanswered;
  }
  EXPECT_EQ(module.FrameCommand(ToBytes("$0a6\r")).status, FrameStatus::kNotMine);
  EXPECT_THROW(module.SetRecord(3, 0, {}), std::out_of_range);
  EXPECT_THROW(module.SetRecord(0, 16, {}), std::out_of_range);
}

TEST(Pxr5303Model, AddressFaultsUseUpperCaseDigits) {
  Pxr5303Module module(10);
  module.SetFaults({.fromAddress = 11}, 1);
  EXPECT_EQ(Answer(module, "#0A8\r"), ">0B8\x00"s);
  module.SetFaults({.swapAddressCase = true}, 1);
  EXPECT_EQ(Answer(module, "#0A8\r"), ">0a8\x00"s);
}

TEST(Pxr530xModel, AnswersListsAndBlockOfAllChannels) {
  Pxr530xModule module(127);
  module.SetRecord(7, 63, {1, 2, 3, 4});
  module.SetRecord(0, 0, {5, 6, 7, 8});
  EXPECT_EQ(Answer(module, "*7F0\r"), ">7F0\x01\x00\r"s);
  EXPECT_EQ(Answer(module, "*7F7\r"), ">7F7\x01\x3F\r"s);
  EXPECT_EQ(Answer(module, "#7F8\r"), ">7F8\x02\x05\x06\x07\x08\x01\x02\x03\x04"s);
  EXPECT_EQ(Answer(module, "*7F8\r"), "");
}

TEST(Pxr530xModel, AModuleWithFewerChannelsLeavesTheOthersUnanswered) {
  Pxr530xModule module(5, 3);
  EXPECT_EQ(Answer(module, "*052\r"), ">052\x00\r"s);
  EXPECT_EQ(Answer(module, "*053\r"), "");
  EXPECT_THROW(module.SetRecord(3, 0, {}), std::out_of_range);
  EXPECT_THROW(Pxr530xModule(5, 9), std::out_of_range);
  EXPECT_THROW(Pxr530xModule(5, 0), std::out_of_range);
}

struct Decoded {
  float ta, tb, wa, wb;
  bool waValid, wbValid;
};

Decoded Decode5303(const RawRecord& r) {
  Decoded d{};
  sensors::ConvertTempExtended(r.data(), &d.ta);
  sensors::ConvertTemp12(r.data(), &d.tb);
  d.waValid = sensors::ConvertTempSignMagnitudeChecked(r.data(), &d.wa);
  d.wbValid = sensors::ConvertHalvesChecked(r.data(), &d.wb);
  return d;
}

Decoded Decode530x(const RawRecord& r) {
  Decoded d{};
  sensors::ConvertTempExtended(r.data(), &d.ta);
  sensors::ConvertTemp12(r.data(), &d.tb);
  d.waValid = sensors::ConvertTempSixteenths(r.data(), &d.wa);
  d.wbValid = sensors::ConvertHumidity(r.data(), &d.wb);
  return d;
}

TEST(SensorEncoding, RecordsDecodeToTheirValues) {
  EXPECT_EQ(Decode5303(EncodePxr5303({.ta = -12.5})).ta, -12.5f);
  Decoded d = Decode5303(EncodePxr5303({.tb = 23.0625, .wa = -40.5}));
  EXPECT_EQ(d.tb, 23.0625f);
  EXPECT_TRUE(d.waValid);
  EXPECT_EQ(d.wa, -40.5f);
  d = Decode5303(EncodePxr5303({.wa = 7.25, .wb = 127.5}));
  EXPECT_EQ(d.wa, 7.25f);
  EXPECT_TRUE(d.wbValid);
  EXPECT_EQ(d.wb, 127.0f);  // 127.5 would be the invalid marker
  EXPECT_THROW(EncodePxr5303({.ta = 1.0, .wb = 2.0}), std::invalid_argument);

  d = Decode530x(EncodePxr530x({.wa = -1.5, .wb = 55.0}));
  EXPECT_TRUE(d.waValid);
  EXPECT_EQ(d.wa, -1.5f);
  EXPECT_TRUE(d.wbValid);
  EXPECT_NEAR(d.wb, 55.0f, 0.2f);
  EXPECT_EQ(Decode530x(EncodePxr530x({.tb = -10.125})).tb, -10.125f);
  EXPECT_THROW(EncodePxr530x({.tb = 1.0, .wa = 2.0}), std::invalid_argument);
  // A b2 of 0xFE would make WA invalid.
  for (int i = 0; i <= 100; ++i) {
    const RawRecord r = EncodePxr530x({.wa = 20.0, .wb = static_cast<double>(i)});
    EXPECT_NE(r[2], 0xFE) << i;
    EXPECT_NE(r[3], 0xFE) << i;
  }
}

}  // namespace
}  // namespace tarvo::sim
