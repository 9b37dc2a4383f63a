#include "sim/plant/value_source_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <utility>
#include <variant>

#include "sim/plant/plant_names.h"

namespace tarvo::sim {
namespace {

constexpr double kHuge = 1e9;        // larger than any module can show
constexpr double kLongest = 1e7;     // seconds: about four months
constexpr double kShortest = 0.001;  // seconds

std::optional<double> Optional(const PlantNode& shape, std::string_view key, double min,
                               double max) {
  const std::optional<PlantNode> member = shape.Find(key);
  if (!member) return std::nullopt;
  return member->Number(min, max);
}

// The lowest and the highest value a source ever takes.
std::pair<double, double> Extent(const ValueSource::Shape& shape) {
  if (const auto* c = std::get_if<ConstantValue>(&shape)) return {c->value, c->value};
  if (const auto* r = std::get_if<RampValue>(&shape))
    return {std::min(r->from, r->to), std::max(r->from, r->to)};
  if (const auto* s = std::get_if<SineValue>(&shape))
    return {s->mean - std::abs(s->amplitude), s->mean + std::abs(s->amplitude)};
  const auto& w = std::get<RandomWalkValue>(shape);
  return {w.min, w.max};
}

}  // namespace

ValueSource ReadValueSource(const PlantNode& node, ValueRange range) {
  ValueSource source = ReadValueSource(node);
  const auto [low, high] = Extent(source.shape());
  if (low >= range.min && high <= range.max) return source;
  const std::string expected =
      "expected a number from " + PlantNumberText(range.min) + " to " + PlantNumberText(range.max);
  if (!source.varies()) node.Fail(expected + ", found " + PlantNumberText(low));
  node.Fail(expected + "; this value goes from " + PlantNumberText(low) + " to " +
            PlantNumberText(high));
}

ValueSource ReadValueSource(const PlantNode& node) {
  constexpr const char* kExpected =
      "expected a number or an object with one of constant, ramp, sine, random_walk";
  if (node.IsNumber()) return ValueSource(ConstantValue{node.Number(-kHuge, kHuge)});
  if (!node.IsObject()) node.Fail(kExpected);
  node.CheckKeys({"constant", "ramp", "sine", "random_walk"});
  if (node.MemberCount() != 1) node.Fail(kExpected);

  if (auto constant = node.Find("constant"))
    return ValueSource(ConstantValue{constant->Number(-kHuge, kHuge)});
  if (auto ramp = node.Find("ramp")) {
    ramp->CheckKeys({"from", "to", "period"});
    return ValueSource(RampValue{ramp->At("from").Number(-kHuge, kHuge),
                                 ramp->At("to").Number(-kHuge, kHuge),
                                 ramp->At("period").Number(kShortest, kLongest)});
  }
  if (auto sine = node.Find("sine")) {
    sine->CheckKeys({"mean", "amplitude", "period", "phase"});
    return ValueSource(SineValue{Optional(*sine, "mean", -kHuge, kHuge).value_or(0.0),
                                 sine->At("amplitude").Number(-kHuge, kHuge),
                                 sine->At("period").Number(kShortest, kLongest),
                                 Optional(*sine, "phase", -360.0, 360.0).value_or(0.0)});
  }
  const PlantNode walk = node.At("random_walk");
  walk.CheckKeys({"start", "step", "min", "max", "interval", "seed"});
  RandomWalkValue value{
      walk.At("start").Number(-kHuge, kHuge),
      walk.At("step").Number(0.0, kHuge),
      walk.At("min").Number(-kHuge, kHuge),
      walk.At("max").Number(-kHuge, kHuge),
      Optional(walk, "interval", kShortest, kLongest).value_or(1.0),
      static_cast<uint32_t>(
          walk.Find("seed") ? walk.At("seed").Integer(0, std::numeric_limits<uint32_t>::max()) : 1),
  };
  if (value.min > value.max) walk.At("max").Fail("must not be less than min");
  if (value.start < value.min || value.start > value.max)
    walk.At("start").Fail("must lie from min to max");
  return ValueSource(value);
}

}  // namespace tarvo::sim
