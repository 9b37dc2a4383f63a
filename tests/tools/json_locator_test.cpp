// Finding the line and column of a value in a JSON text along a path.
#include "sim/plant/json_locator.h"

#include "gtest/gtest.h"

namespace tarvo::sim {
namespace {

constexpr std::string_view kText =
    "{\n"
    "  \"a\": {\"b\": [10, {\"c\": \"x}]\\\"\"}, 30]},\n"
    "  \"d\\u0065\": true,\n"
    "  \"a\": 99,\n"
    "  \"e\": [\n"
    "    [], {}, -1.5e3\n"
    "  ]\n"
    "}\n";

struct LocateCase {
  const char* name;
  JsonPath path;
  std::optional<TextPosition> expected;
};

TEST(JsonLocator, FindsEachValueAlongItsPath) {
  const LocateCase cases[] = {
      {"root", {}, TextPosition{1, 1}},
      {"object member, at its key", {"a"}, TextPosition{2, 3}},
      {"array element", {"a", "b", size_t{0}}, TextPosition{2, 15}},
      {"past a string holding brackets and an escaped quote",
       {"a", "b", size_t{2}},
       TextPosition{2, 35}},
      {"inside an array's object", {"a", "b", size_t{1}, "c"}, TextPosition{2, 20}},
      {"key written with an escape", {"de"}, TextPosition{3, 3}},
      {"past empty containers", {"e", size_t{2}}, TextPosition{6, 13}},
      {"missing key", {"z"}, std::nullopt},
      {"index past the end", {"e", size_t{3}}, std::nullopt},
      {"index into an object", {"a", size_t{0}}, std::nullopt},
  };
  for (const LocateCase& c : cases) {
    const std::optional<TextPosition> found = LocateJsonValue(kText, c.path);
    ASSERT_EQ(found.has_value(), c.expected.has_value()) << c.name;
    if (!found) continue;
    EXPECT_EQ(found->line, c.expected->line) << c.name;
    EXPECT_EQ(found->column, c.expected->column) << c.name;
  }
}

TEST(JsonLocator, ADuplicatedKeyIsFoundAtItsFirstPlaceAndReportedAtItsSecond) {
  const auto found = LocateJsonValue(kText, {"a"});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->line, 2u);

  const auto duplicate = FindDuplicateKey(kText);
  ASSERT_TRUE(duplicate);
  EXPECT_EQ(DescribeJsonPath(duplicate->path), "a");
  EXPECT_EQ(duplicate->at.line, 4u);
  EXPECT_EQ(duplicate->at.column, 3u);
  // Equal keys in different objects, and one written with an escape.
  const auto nested = FindDuplicateKey(R"({"x": [{"k": 1}, {"k": 2, "\u006b": 3}], "k": 4})");
  ASSERT_TRUE(nested);
  EXPECT_EQ(DescribeJsonPath(nested->path), "x[1].k");
  EXPECT_EQ(nested->at.column, 27u);
  EXPECT_FALSE(FindDuplicateKey(R"({"x": [{"k": 1}, {"k": 2}], "k": 4})"));
}

TEST(JsonLocator, PositionOfOffsetCountsLinesAndColumns) {
  EXPECT_EQ(PositionOfOffset("ab\ncd", 0).column, 1u);
  EXPECT_EQ(PositionOfOffset("ab\ncd", 4).line, 2u);
  EXPECT_EQ(PositionOfOffset("ab\ncd", 4).column, 2u);
  EXPECT_EQ(PositionOfOffset("ab\ncd", 99).column, 3u);  // the end
}

TEST(JsonLocator, DescribesPathsForPeople) {
  EXPECT_EQ(DescribeJsonPath({}), "");
  EXPECT_EQ(DescribeJsonPath({"modules", size_t{0}, "channels", size_t{1}, "ta"}),
            "modules[0].channels[1].ta");
  EXPECT_EQ(DescribeJsonPath({size_t{0}, "x"}), "[0].x");
}

}  // namespace
}  // namespace tarvo::sim
