// Reading the modules of the pxr5303, pxr530x, pxr5700 and pxr5760
// families from plant descriptions: the records and answers they make, how
// moving values move, and messages for what does not fit.
#include <string>

#include "gtest/gtest.h"
#include "sim/plant/plant.h"
#include "sim/plant/plant_names.h"
#include "sim/pxr530x/module_5303.h"
#include "sim/pxr530x/module_530x.h"
#include "sim/pxr5700/module.h"
#include "sim/pxr5760/module.h"

namespace tarvo::sim {
namespace {

std::unique_ptr<Plant> Load(std::string_view module) {
  return LoadPlant("{\"modules\": [" + std::string(module) + "]}", "p.json");
}

// The module's answer to `command`, all chunks joined.
std::string Ask(Module& module, std::string_view command) {
  std::string answer;
  const std::vector<uint8_t> bytes(command.begin(), command.end());
  for (const Chunk& chunk : module.Respond(bytes, 0))
    answer.append(chunk.bytes.begin(), chunk.bytes.end());
  return answer;
}

TEST(PlantFamilies, SensorModulesGetTheRecordsOfTheirValues) {
  const std::unique_ptr<Plant> plant = Load(R"(
    {"family": "pxr5303", "address": 2, "channels": [
       {"channel": 0, "points": [{"point": 0, "ta": 21.5}, {"point": 15, "tb": -1.0625}]},
       {"channel": 2, "points": [{"point": 4, "wa": -18.25, "wb": 60},
                                 {"point": 5, "raw": "01 02 03 04"}]}]},
    {"family": "pxr530x", "address": 3, "channels": [
       {"channel": 7, "points": [{"point": 63, "wa": 21.5, "wb": 50},
                                 {"point": 0, "tb": {"ramp": {"from": 10, "to": 20, "period": 10}}}]}]})");
  ASSERT_EQ(plant->modules().size(), 2u);
  EXPECT_EQ(plant->modules()[0].summary, "4 points on 2 channels");
  EXPECT_EQ(plant->modules()[1].summary, "2 points on 1 channel");

  auto* pxr5303 = dynamic_cast<Pxr5303Module*>(plant->bus().Find(2));
  ASSERT_NE(pxr5303, nullptr);
  EXPECT_EQ(pxr5303->Points(0), (std::vector<uint8_t>{0, 15}));
  EXPECT_EQ(pxr5303->Points(2), (std::vector<uint8_t>{4, 5}));
  // TA 21.5: 43 half degrees, count bytes 12 of 16 (21.5 + 0.25 - 0.25).
  EXPECT_EQ(pxr5303->Record(0, 0), (RawRecord{43, 0x00, 12, 16}));
  // TB -1.0625: -17 sixteenths as 12 bits in b1:b0.
  EXPECT_EQ(pxr5303->Record(0, 15), (RawRecord{0xEF, 0xFF, 0, 0}));
  // WA -18.25: 292 sixteenths, sign in bit 3 of b3; WB 60: 120 halves in b1.
  EXPECT_EQ(pxr5303->Record(2, 4), (RawRecord{0, 120, 0x24, 0x09}));
  EXPECT_EQ(pxr5303->Record(2, 5), (RawRecord{1, 2, 3, 4}));

  auto* pxr530x = dynamic_cast<Pxr530xModule*>(plant->bus().Find(3));
  ASSERT_NE(pxr530x, nullptr);
  EXPECT_EQ(pxr530x->Points(7), (std::vector<uint8_t>{0, 63}));
  EXPECT_EQ(pxr530x->Record(7, 63), EncodePxr530x({.wa = 21.5, .wb = 50}));
  EXPECT_EQ(pxr530x->Record(7, 0), EncodePxr530x({.tb = 10}));
  plant->Update(5);
  EXPECT_EQ(pxr530x->Record(7, 0), EncodePxr530x({.tb = 15}));
  EXPECT_EQ(pxr530x->Record(7, 63), EncodePxr530x({.wa = 21.5, .wb = 50}));
}

TEST(PlantFamilies, AnIoModuleAnswersWithItsBitsReadingsAndTexts) {
  const std::unique_ptr<Plant> plant = Load(R"(
    {"family": "pxr5700", "address": 10, "inputs": 5, "outputs": 130,
     "temperatures": [{"channel": 2, "tb": -1.0625}, {"channel": 1, "raw": "01 02 03 04"}],
     "numerics": [{"channel": 1, "value": {"ramp": {"from": 0, "to": 99999, "period": 99.999}}},
                  {"channel": 2, "text": "  -1."}]})");
  ASSERT_EQ(plant->modules().size(), 1u);
  EXPECT_EQ(plant->modules()[0].summary,
            "inputs 05, outputs 82, 2 temperature channels, 2 numeric channels");
  auto* module = dynamic_cast<Pxr5700Module*>(plant->bus().Find(10));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(Ask(*module, "#0A0\r"), ">0A\x05\r");
  EXPECT_EQ(Ask(*module, "#0A1\r"), ">0A\x82\r");
  EXPECT_EQ(Ask(*module, "#0A3\r"), std::string(">0A3,\x01\x02\x03\x04\xEF\xFF\x00\x00\r", 14));
  EXPECT_EQ(Ask(*module, "#0A2\r"), ">0A2, 0.00,  -1.\r");

  // The texts take as many decimals as fit; a write's outputs stay.
  EXPECT_EQ(Ask(*module, "/0A\x01\r"), "!0A\x01\r");
  const struct {
    double seconds;
    const char* answer;
  } steps[] = {{0.05, ">0A2,50.00,  -1.\r"},
               {0.12346, ">0A2,123.5,  -1.\r"},
               {12.3456, ">0A2,12346,  -1.\r"}};
  for (const auto& step : steps) {
    plant->Update(step.seconds);
    EXPECT_EQ(Ask(*module, "#0A2\r"), step.answer) << step.seconds;
  }
  EXPECT_EQ(module->outputs(), 0x01);
}

TEST(PlantFamilies, ABusPointModuleGetsItsRecordsAndSubChannels) {
  const std::unique_ptr<Plant> plant = Load(R"(
    {"family": "pxr5760", "address": 26, "channels": [
       {"channel": 0, "points": [{"point": 0, "ta": 25.0625, "hb": -8},
                                 {"point": 1, "ta": -25.0625},
                                 {"point": 2, "kt": 68},
                                 {"point": 31, "hb": 63.5}]},
       {"channel": 2, "points": [{"point": 5, "inputs": 8, "outputs": 129},
                                 {"point": 6, "raw": "01 02 03 04"}]},
       {"channel": 7, "points": [{"point": 4, "ad": [
          {"sub_channel": 7, "value": 5},
          {"sub_channel": 2, "value": {"ramp": {"from": 0, "to": 5, "period": 10}}}]}]}]})");
  ASSERT_EQ(plant->modules().size(), 1u);
  EXPECT_EQ(plant->modules()[0].summary, "7 points on 3 channels");
  auto* module = dynamic_cast<Pxr5760Module*>(plant->bus().Find(26));
  ASSERT_NE(module, nullptr);
  using Records = std::vector<RawRecord>;
  EXPECT_EQ(module->Records(0, 0), (Records{{0, 0xF0, 0x91, 0x01}}));
  EXPECT_EQ(module->Records(0, 1), (Records{{0, 0, 0x91, 0x09}}));
  EXPECT_EQ(module->Records(0, 2), (Records{{0, 0x10, 0x01, 0}}));
  EXPECT_EQ(module->Records(0, 31), (Records{{0, 0x7F, 0, 0}}));
  EXPECT_EQ(module->Records(2, 5), (Records{{0, 0x08, 0x81, 0}}));
  EXPECT_EQ(module->Records(2, 6), (Records{{1, 2, 3, 4}}));
  // AD: type code 11, counts of 5/1023 V, sub-channel in b2 bits 7..5,
  // and the check sum b0 + b1 + b2 in b3.
  EXPECT_EQ(module->Records(7, 4), (Records{{11, 0xFF, 0xE3, 0xED}, {11, 0x00, 0x40, 0x4B}}));
  plant->Update(5);  // 2.5 V: 512 counts (511.5 rounded)
  EXPECT_EQ(module->Records(7, 4), (Records{{11, 0xFF, 0xE3, 0xED}, {11, 0x00, 0x42, 0x4D}}));

  // A write sets the output byte of a point; the plant leaves it there.
  EXPECT_EQ(Ask(*module, "/1a20589\r"), "!1a\r");
  plant->Update(6);
  EXPECT_EQ(module->Records(2, 5), (Records{{0, 0x08, 0x89, 0}}));
}

struct BadModule {
  const char* name;
  std::string_view text;  // the module, on line 2 of the file
  const char* message;
};

TEST(PlantFamilies, ABadModuleGivesAMessageNamingTheLine) {
  const BadModule cases[] = {
      {"pxr5303 channel out of range",
       R"({"family": "pxr5303", "address": 2, "channels": [{"channel": 3, "points": []}]})",
       "p.json:2:51: modules[0].channels[0].channel: expected a whole number from 0 to 2, found "
       "3"},
      {"pxr5303 point out of range",
       R"({"family": "pxr5303", "address": 2, "channels": [{"channel": 0, "points": [{"point": 16, "ta": 1}]}]})",
       "p.json:2:77: modules[0].channels[0].points[0].point: expected a whole number from 0 to "
       "15, found 16"},
      {"pxr5303 ta on channel 1",
       R"({"family": "pxr5303", "address": 2, "channels": [{"channel": 1, "points": [{"point": 0, "ta": 1}]}]})",
       "p.json:2:89: modules[0].channels[0].points[0].ta: on channels 1 and 2 the module sends the "
       "point number in b0, which ta and tb need; a point there carries wa and wb"},
      {"pxr5303 kinds that share bytes",
       R"({"family": "pxr5303", "address": 2, "channels": [{"channel": 0, "points": [{"point": 0, "ta": 1, "wb": 3}]}]})",
       "p.json:2:76: modules[0].channels[0].points[0]: pxr5303 record: TA and WB share byte b1"},
      {"pxr530x point without values",
       R"({"family": "pxr530x", "address": 3, "channels": [{"channel": 7, "points": [{"point": 63}]}]})",
       "p.json:2:76: modules[0].channels[0].points[0]: a point needs values of ta, tb, wa or wb, "
       "or "
       "raw"},
      {"pxr530x point of pxr5100 kinds",
       R"({"family": "pxr530x", "address": 3, "channels": [{"channel": 0, "points": [{"point": 1, "wm": 3}]}]})",
       "p.json:2:89: modules[0].channels[0].points[0].wm: unknown key; expected one of: point, "
       "raw, "
       "ta, tb, wa, wb, comment"},
      {"pxr5700 inputs out of range", R"({"family": "pxr5700", "address": 4, "inputs": 256})",
       "p.json:2:37: modules[0].inputs: expected a whole number from 0 to 255, found 256"},
      {"pxr5700 temperature channel 0",
       R"({"family": "pxr5700", "address": 4, "temperatures": [{"channel": 0, "ta": 1}]})",
       "p.json:2:55: modules[0].temperatures[0].channel: expected a whole number from 1 to 2, "
       "found 0"},
      {"pxr5700 ta and tb",
       R"({"family": "pxr5700", "address": 4, "temperatures": [{"channel": 1, "ta": 1, "tb": 2}]})",
       "p.json:2:54: modules[0].temperatures[0]: a temperature channel gives one of ta, tb or raw"},
      {"pxr5700 numeric channel twice",
       R"({"family": "pxr5700", "address": 4, "numerics": [{"channel": 1, "value": 1}, {"channel": 1, "text": "  1.0"}]})",
       "p.json:2:79: modules[0].numerics[1].channel: channel 1 is described twice"},
      {"pxr5700 text not five characters",
       R"({"family": "pxr5700", "address": 4, "numerics": [{"channel": 2, "text": "1.5"}]})",
       "p.json:2:65: modules[0].numerics[0].text: expected a text of exactly five characters, "
       "such as \"23.45\""},
      {"pxr5760 point out of range",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 32, "ta": 1}]}]})",
       "p.json:2:77: modules[0].channels[0].points[0].point: expected a whole number from 0 to "
       "31, found 32"},
      {"pxr5760 kinds that share bytes",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ta": 1, "kt": 3}]}]})",
       "p.json:2:76: modules[0].channels[0].points[0]: pxr5760 record: TA and KT share byte b2"},
      {"pxr5760 inputs and hb",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "hb": 1, "inputs": 3}]}]})",
       "p.json:2:76: modules[0].channels[0].points[0]: pxr5760 record: HB and inputs share byte "
       "b1"},
      {"pxr5760 ad with other values",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ta": 1, "ad": []}]}]})",
       "p.json:2:98: modules[0].channels[0].points[0].ad: a point with ad sends one record per "
       "sub-channel and no other values"},
      {"pxr5760 ad without sub-channels",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ad": []}]}]})",
       "p.json:2:89: modules[0].channels[0].points[0].ad: expected at least one sub-channel"},
      {"pxr5760 sub-channel twice",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ad": [{"sub_channel": 1, "value": 1}, {"sub_channel": 1, "value": 2}]}]}]})",
       "p.json:2:129: modules[0].channels[0].points[0].ad[1].sub_channel: sub-channel 1 is "
       "described twice"},
      {"pxr5760 raw and values",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "outputs": 1, "raw": "00 00 00 00"}]}]})",
       "p.json:2:103: modules[0].channels[0].points[0].raw: a point has either a raw record or "
       "values, not both"},
      {"pxr5760 ad voltage of 7",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ad": [{"sub_channel": 3, "value": 7}]}]}]})",
       "p.json:2:115: modules[0].channels[0].points[0].ad[0].value: expected a number from 0 to 5, "
       "found 7"},
      {"pxr5760 ta that moves out of range",
       R"({"family": "pxr5760", "address": 5, "channels": [{"channel": 0, "points": [{"point": 0, "ta": {"sine": {"mean": 100, "amplitude": 40, "period": 60}}}]}]})",
       "p.json:2:89: modules[0].channels[0].points[0].ta: expected a number from -127.9375 to "
       "127.9375; this value goes from 60 to 140"},
      {"pxr5700 numeric value of six digits",
       R"({"family": "pxr5700", "address": 4, "numerics": [{"channel": 1, "value": 123456}]})",
       "p.json:2:65: modules[0].numerics[0].value: expected a number from -9999 to 99999, found "
       "123456"},
  };
  for (const BadModule& c : cases) {
    try {
      LoadPlant("{\"modules\": [\n" + std::string(c.text) + "]}", "p.json");
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const PlantError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
  }
}

}  // namespace
}  // namespace tarvo::sim
