// Reading plants: the modules and values a description makes, the built-in
// plant, and messages for bad descriptions that name the line and column.
#include "sim/plant/plant.h"

#include "gtest/gtest.h"
#include "sim/plant/family.h"
#include "sim/plant/plant_names.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

constexpr std::string_view kPlant = R"({"modules": [
  {"family": "pxr5100", "address": 12, "name": "boiler",
   "faults": {"delay_ms": 250, "pieces": 2, "answers": 3},
   "channels": [
     {"channel": 1, "points": [
       {"point": 0, "ta": 23.5},
       {"point": 3, "tb": {"ramp": {"from": 10, "to": 20, "period": 10}}, "ua": 18.25},
       {"point": 9, "raw": "32 00 0C 10"}
     ]},
     {"channel": 7, "points": [{"point": 63, "wm": 123.45}]}
   ]},
  {"family": "pxr5100", "address": 0, "channels": []}
]})";

TEST(Plant, MakesTheModulesAndValuesItDescribes) {
  const std::unique_ptr<Plant> plant = LoadPlant(kPlant, "plant.json");
  ASSERT_EQ(plant->modules().size(), 2u);
  EXPECT_EQ(plant->modules()[0].address, 12);
  EXPECT_EQ(plant->modules()[0].family, "pxr5100");
  EXPECT_EQ(plant->modules()[0].name, "boiler");
  EXPECT_EQ(plant->modules()[0].summary, "4 points on 2 channels");
  EXPECT_EQ(plant->modules()[1].summary, "0 points on 0 channels");

  auto* module = dynamic_cast<Pxr5100Module*>(plant->bus().Find(12));
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module->Points(1), (std::vector<uint8_t>{0, 3, 9}));
  EXPECT_EQ(module->Points(7), (std::vector<uint8_t>{63}));
  EXPECT_EQ(module->Record(1, 0), EncodePxr5100({.ta = 23.5}));
  EXPECT_EQ(module->Record(1, 3), EncodePxr5100({.tb = 10, .ua = 18.25}));
  EXPECT_EQ(module->Record(1, 9), (RawRecord{0x32, 0x00, 0x0C, 0x10}));
  EXPECT_EQ(module->Record(7, 63), EncodePxr5100({.wm = 123.45}));
  EXPECT_EQ(module->faults().delayMs, 250);
  EXPECT_EQ(module->faults().pieces, 2);

  // Moving values move; constant and raw ones stay.
  plant->Update(2.5);
  EXPECT_EQ(module->Record(1, 3), EncodePxr5100({.tb = 12.5, .ua = 18.25}));
  EXPECT_EQ(module->Record(1, 0), EncodePxr5100({.ta = 23.5}));
  EXPECT_EQ(module->Record(1, 9), (RawRecord{0x32, 0x00, 0x0C, 0x10}));
}

TEST(Plant, TheBuiltInPlantHasOneModuleOfEachFamily) {
  const std::unique_ptr<Plant> plant = LoadPlant(DefaultPlantText(), "built-in plant");
  ASSERT_EQ(plant->modules().size(), PlantFamilies().size());
  for (size_t i = 0; i < PlantFamilies().size(); ++i) {
    EXPECT_EQ(plant->modules()[i].family, PlantFamilies()[i]->name);
    EXPECT_NE(plant->modules()[i].summary, "");
  }
}

TEST(Plant, FindsFamiliesByTheirExactName) {
  ASSERT_NE(FindPlantFamily("pxr5100"), nullptr);
  EXPECT_EQ(FindPlantFamily("pxr5100")->name, "pxr5100");
  EXPECT_EQ(FindPlantFamily("PXR5100"), nullptr);
  EXPECT_EQ(FindPlantFamily("pxr9999"), nullptr);
}

struct BadPlant {
  const char* name;
  std::string_view text;
  const char* message;
};

TEST(Plant, ABadDescriptionGivesAMessageNamingTheLine) {
  const BadPlant cases[] = {
      {"not YAML", "{\"modules\": [\n  {\"family\": \"pxr5100\"]\n]}",
       "p.json:2:23: not valid YAML: illegal flow end"},
      {"a comma before a closing brace, as YAML allows",
       "{\"modules\": [\n  {\"family\": \"pxr5100\",}\n]}",
       "p.json:2:3: modules[0]: missing key \"address\""},
      {"comments only", "# no modules yet\n",
       "p.json:1:1: the plant is empty; it needs {\"modules\": [...]}"},
      {"YAML: a wrong value after comments",
       "# the boiler room\nmodules:\n  - family: pxr5100   # the boiler\n    address: 128\n"
       "    channels: []\n",
       "p.json:4:5: modules[0].address: expected a whole number from 0 to 127, found 128"},
      {"YAML: a quoted number is a text",
       "modules:\n  - {family: pxr5100, address: \"5\", channels: []}\n",
       "p.json:2:23: modules[0].address: expected a whole number from 0 to 127, found a text"},
      {"YAML: key twice in block style",
       "modules:\n  - family: pxr5100\n    address: 5\n    channels: []\n    address: 6\n",
       "p.json:5:5: modules[0].address: the object gives this key twice"},
      {"YAML: a module repeated by an alias",
       "modules:\n  - &boiler {family: pxr5100, address: 1, channels: []}\n  - *boiler\n",
       "p.json:2:5: modules[0]: anchors (&) are not read; write the value out"},
      {"YAML: a syntax error", "modules:\n  - family: pxr5100\n   address: 5\n",
       "p.json:3:4: not valid YAML: end of sequence not found"},
      {"empty file", " \n", "p.json:1:1: the plant is empty; it needs {\"modules\": [...]}"},
      {"key twice",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [],\n"
       "  \"address\": 6}]}",
       "p.json:2:3: modules[0].address: the object gives this key twice"},
      {"no modules", "{\"module\": []}",
       "p.json:1:2: module: unknown key; expected one of: modules, comment"},
      {"modules not a list", "{\"modules\": {}}",
       "p.json:1:2: modules: expected a list [...], found an object"},
      {"module not an object", "{\"modules\": [\n 7]}",
       "p.json:2:2: modules[0]: expected an object {...} describing a module"},
      {"no family", "{\"modules\": [\n {\"address\": 1}]}",
       "p.json:2:2: modules[0]: missing key \"family\""},
      {"unknown family", "{\"modules\": [\n {\"family\": \"pxr9999\", \"address\": 1}]}",
       "p.json:2:3: modules[0].family: unknown family \"pxr9999\"; this simulator serves: "
       "pxr5100, pxr5303, pxr530x, pxr5700, pxr5760"},
      {"address too big",
       "{\"modules\": [\n {\"family\": \"pxr5100\",\n  \"address\": 128, \"channels\": []}]}",
       "p.json:3:3: modules[0].address: expected a whole number from 0 to 127, found 128"},
      {"address taken",
       "{\"modules\": [\n {\"family\": \"pxr5100\", \"address\": 5, \"channels\": []},\n"
       " {\"family\": \"pxr5100\", \"address\": 5, \"channels\": []}]}",
       "p.json:3:24: modules[1].address: address 5 is taken by modules[0]"},
      {"unknown module key",
       "{\"modules\": [\n {\"family\": \"pxr5100\", \"address\": 5, \"chanels\": []}]}",
       "p.json:2:38: modules[0].chanels: unknown key; expected one of: family, address, name, "
       "faults, comment, channels"},
      {"channel out of range",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 8, \"points\": []}]}]}",
       "p.json:2:4: modules[0].channels[0].channel: expected a whole number from 0 to 7, found 8"},
      {"channel twice",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": []},\n  {\"channel\": 2, \"points\": []}]}]}",
       "p.json:3:4: modules[0].channels[1].channel: channel 2 is described twice"},
      {"point twice",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4, \"ta\": 1},\n"
       "                            {\"point\": 4, \"tb\": 2}]}]}]}",
       "p.json:3:30: modules[0].channels[0].points[1].point: point 4 of channel 2 is described "
       "twice"},
      {"point without values",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4}]}]}]}",
       "p.json:2:29: modules[0].channels[0].points[0]: a point needs values of ta, tb, wa, wb, "
       "ua, ub or wm, or raw"},
      {"kinds that share bytes",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [\n    {\"point\": 4, \"ta\": 1, \"wb\": 40}]}]}]}",
       "p.json:3:5: modules[0].channels[0].points[0]: pxr5100 record: TA and WB share bytes b2 and "
       "b3"},
      {"humidity over 100",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4, \"wb\": 101}]}]}]}",
       "p.json:2:42: modules[0].channels[0].points[0].wb: expected a number from 0 to 100, found "
       "101"},
      {"raw and kinds",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4, \"ta\": 1, \"raw\": \"00 00 00 00\"}]}]}]}",
       "p.json:2:51: modules[0].channels[0].points[0].raw: a point has either a raw record or "
       "values of kinds, not both"},
      {"raw not four bytes",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4, \"raw\": \"00 00 100\"}]}]}]}",
       "p.json:2:42: modules[0].channels[0].points[0].raw: expected four hex bytes such as "
       "\"32 00 0c 10\""},
      {"bad value",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [\n"
       "  {\"channel\": 2, \"points\": [{\"point\": 4,\n"
       "    \"ta\": {\"sine\": {\"mean\": 20, \"period\": 60}}}]}]}]}",
       "p.json:3:12: modules[0].channels[0].points[0].ta.sine: missing key \"amplitude\""},
      {"unknown fault switch",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [],\n"
       "  \"faults\": {\"late_ms\": 300}}]}",
       "p.json:2:14: modules[0].faults.late_ms: unknown key; expected one of: silent, head, "
       "swap_address_case, from_address, truncate_to, drop_final_cr, padding, pad_byte, noise, "
       "noise_replaces_answer, noise_byte, noise_seed, delay_ms, pieces, gap_ms, extra_point, "
       "point_twice, answers"},
      {"fault value out of range",
       "{\"modules\": [{\"family\": \"pxr5100\", \"address\": 5, \"channels\": [],\n"
       "  \"faults\": {\"pieces\": 0}}]}",
       "p.json:2:14: modules[0].faults.pieces: expected a whole number from 1 to 4096, found 0"},
  };
  for (const BadPlant& c : cases) {
    try {
      LoadPlant(c.text, "p.json");
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const PlantError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.name;
    }
  }
}

}  // namespace
}  // namespace tarvo::sim
