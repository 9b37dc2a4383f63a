// What each kind of simulated value gives over time, and how a plant
// description spells it.
#include "sim/plant/value_source.h"

#include "gtest/gtest.h"
#include "sim/plant/plant_names.h"
#include "sim/plant/value_source_reader.h"
#include "tools/plant/plant_document.h"

namespace tarvo::sim {
namespace {

struct AtCase {
  const char* json;
  double seconds;
  double expected;
};

TEST(ValueSource, GivesTheShapesValueAtEachTime) {
  const AtCase cases[] = {
      {"21.5", 1000, 21.5},
      {R"({"constant": -3})", 0, -3},
      {R"({"ramp": {"from": 10, "to": 30, "period": 20}})", 0, 10},
      {R"({"ramp": {"from": 10, "to": 30, "period": 20}})", 5, 15},
      {R"({"ramp": {"from": 10, "to": 30, "period": 20}})", 20, 10},  // starts again
      {R"({"ramp": {"from": 10, "to": 30, "period": 20}})", 45, 15},
      {R"({"ramp": {"from": 5, "to": -5, "period": 4}})", 1, 2.5},  // falling
      {R"({"sine": {"mean": 20, "amplitude": 2, "period": 8}})", 0, 20},
      {R"({"sine": {"mean": 20, "amplitude": 2, "period": 8}})", 2, 22},
      {R"({"sine": {"mean": 20, "amplitude": 2, "period": 8}})", 6, 18},
      {R"({"sine": {"amplitude": 2, "period": 8, "phase": 90}})", 0, 2},
      {R"({"random_walk": {"start": 5, "step": 1, "min": 0, "max": 10}})", 0.99, 5},
      {R"({"random_walk": {"start": 5, "step": 0, "min": 0, "max": 10}})", 50, 5},
  };
  for (const AtCase& c : cases) {
    const plant::PlantValue json = plant::ParsePlantDocument(c.json, "value");
    ValueSource source = ReadValueSource(PlantNode(json, {}));
    EXPECT_NEAR(source.At(c.seconds), c.expected, 1e-9) << c.json << " at " << c.seconds;
  }
}

TEST(ValueSource, ARandomWalkIsRepeatableBoundedAndNeverGoesBack) {
  const RandomWalkValue shape{
      .start = 50, .step = 4, .min = 45, .max = 55, .interval = 0.5, .seed = 3};
  ValueSource a(shape);
  ValueSource b(shape);
  std::vector<double> walk;
  for (int i = 0; i <= 200; ++i) walk.push_back(a.At(i * 0.5));
  // The same seed walks the same way, whether asked at every step or not.
  EXPECT_EQ(b.At(100.0), walk.back());
  double lowest = 1e9;
  double highest = -1e9;
  int moves = 0;
  for (size_t i = 1; i < walk.size(); ++i) {
    EXPECT_LE(std::abs(walk[i] - walk[i - 1]), 4.0);
    lowest = std::min(lowest, walk[i]);
    highest = std::max(highest, walk[i]);
    moves += walk[i] != walk[i - 1];
  }
  EXPECT_GE(lowest, 45.0);
  EXPECT_LE(highest, 55.0);
  EXPECT_GT(moves, 150);
  // Asked for an earlier time, it stays where it is.
  EXPECT_EQ(a.At(3.0), walk.back());
  EXPECT_TRUE(a.varies());
  EXPECT_FALSE(ValueSource(ConstantValue{1}).varies());
}

struct ErrorCase {
  const char* json;
  const char* message;
};

TEST(ValueSource, RefusesWhatItCannotReadNamingThePart) {
  const ErrorCase cases[] = {
      {R"("warm")", "expected a number or an object with one of constant, ramp, sine, random_walk"},
      {R"({})", "expected a number or an object with one of constant, ramp, sine, random_walk"},
      {R"({"sine": {"amplitude": 1, "period": 2}, "constant": 3})",
       "expected a number or an object with one of constant, ramp, sine, random_walk"},
      {R"({"square": {}})",
       "square: unknown key; expected one of: constant, ramp, sine, random_walk"},
      {R"({"ramp": {"from": 1, "to": 2}})", "ramp: missing key \"period\""},
      {R"({"ramp": {"from": 1, "to": 2, "period": 0}})",
       "ramp.period: expected a number from 0.001 to 10000000, found 0"},
      {R"({"sine": {"amplitude": 1, "period": 2, "phase": 400}})",
       "sine.phase: expected a number from -360 to 360, found 400"},
      {R"({"sine": {"amplitude": "big", "period": 2}})",
       "sine.amplitude: expected a number, found a text"},
      {R"({"random_walk": {"start": 5, "step": 1, "min": 6, "max": 9}})",
       "random_walk.start: must lie from min to max"},
      {R"({"random_walk": {"start": 5, "step": 1, "min": 6, "max": 2}})",
       "random_walk.max: must not be less than min"},
      {R"({"random_walk": {"start": 5, "step": -1, "min": 0, "max": 9}})",
       "random_walk.step: expected a number from 0 to 1000000000, found -1"},
      {R"({"random_walk": {"start": 5, "step": 1, "min": 0, "max": 9, "seed": 1.5}})",
       "random_walk.seed: expected a whole number from 0 to 4294967295, found 1.5"},
  };
  for (const ErrorCase& c : cases) {
    const plant::PlantValue json = plant::ParsePlantDocument(c.json, "value");
    try {
      ReadValueSource(PlantNode(json, {}));
      ADD_FAILURE() << c.json << " was accepted";
    } catch (const PlantValueError& e) {
      EXPECT_STREQ(e.what(), c.message) << c.json;
    }
  }
}

}  // namespace
}  // namespace tarvo::sim
