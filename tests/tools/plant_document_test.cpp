// Reading plant documents: where each value stands, what unquoted scalars
// mean, and what the reader refuses, with its place.
#include "tools/plant/plant_document.h"

#include "gtest/gtest.h"
#include "tools/plant/plant_error.h"

namespace tarvo::plant {
namespace {

constexpr std::string_view kJson =
    "{\n"
    "  \"a\": {\"b\": [10, {\"c\": \"x}]\\\"\"}, 30]},\n"
    "  \"d\\u0065\": true,\n"
    "  \"e\": [\n"
    "    [], {}, -1.5e3\n"
    "  ]\n"
    "}\n";

constexpr std::string_view kYaml =
    "# a plant in block style\n"
    "modules:\n"
    "  - family: pxr5100   # the boiler\n"
    "    address: 5\n"
    "    points: [1, \"2\"]\n"
    "\n"
    "  - {family: pxr5700, address: 6}\n";

// The place of the value at `path`, or nothing when there is none.
std::optional<TextPosition> Locate(std::string_view text, const PlantPath& path) {
  const PlantValue top = ParsePlantDocument(text, "t.yaml");
  try {
    PlantNode node(top, {});
    for (const PlantStep& step : path) {
      if (const auto* key = std::get_if<std::string>(&step)) {
        const std::optional<PlantNode> member = node.Find(*key);
        if (!member) return std::nullopt;
        node = *member;
      } else {
        const std::vector<PlantNode> elements = node.Elements();
        if (std::get<size_t>(step) >= elements.size()) return std::nullopt;
        node = elements[std::get<size_t>(step)];
      }
    }
    return node.at();
  } catch (const PlantValueError&) {
    return std::nullopt;
  }
}

struct LocateCase {
  const char* name;
  std::string_view text;
  PlantPath path;
  std::optional<TextPosition> expected;
};

TEST(PlantDocument, FindsEachValueAlongItsPath) {
  const LocateCase cases[] = {
      {"root", kJson, {}, TextPosition{1, 1}},
      {"object member, at its key", kJson, {"a"}, TextPosition{2, 3}},
      {"array element", kJson, {"a", "b", size_t{0}}, TextPosition{2, 15}},
      {"past a string holding brackets and an escaped quote",
       kJson,
       {"a", "b", size_t{2}},
       TextPosition{2, 35}},
      {"inside an array's object", kJson, {"a", "b", size_t{1}, "c"}, TextPosition{2, 20}},
      {"key written with an escape", kJson, {"de"}, TextPosition{3, 3}},
      {"past empty containers", kJson, {"e", size_t{2}}, TextPosition{5, 13}},
      {"missing key", kJson, {"z"}, std::nullopt},
      {"index past the end", kJson, {"e", size_t{3}}, std::nullopt},
      {"index into an object", kJson, {"a", size_t{0}}, std::nullopt},
      {"block style: top past a comment", kYaml, {}, TextPosition{2, 1}},
      {"block style: a list item's first key",
       kYaml,
       {"modules", size_t{0}, "family"},
       TextPosition{3, 5}},
      {"block style: a key after a comment",
       kYaml,
       {"modules", size_t{0}, "address"},
       TextPosition{4, 5}},
      {"block style: a quoted element",
       kYaml,
       {"modules", size_t{0}, "points", size_t{1}},
       TextPosition{5, 17}},
      {"block style: a flow object after a blank line",
       kYaml,
       {"modules", size_t{1}},
       TextPosition{7, 5}},
      {"block style: inside it", kYaml, {"modules", size_t{1}, "address"}, TextPosition{7, 23}},
      {"columns count characters", "{\"é\": 1, \"b\": 2}", {"b"}, TextPosition{1, 10}},
      {"columns counted on along one line",
       "{\"é\": [\"°\", {\"ü\": 1}], \"b\": 2}",
       {"b"},
       TextPosition{1, 24}},
  };
  for (const LocateCase& c : cases) {
    const std::optional<TextPosition> found = Locate(c.text, c.path);
    ASSERT_EQ(found.has_value(), c.expected.has_value()) << c.name;
    if (!found) continue;
    EXPECT_EQ(found->line, c.expected->line) << c.name;
    EXPECT_EQ(found->column, c.expected->column) << c.name;
  }
}

// A value for the test's messages: null, true, number 31, text 5, ...
std::string Describe(const PlantValue& value) {
  switch (value.kind) {
    case PlantValue::Kind::kNull:
      return "null";
    case PlantValue::Kind::kBoolean:
      return value.boolean ? "true" : "false";
    case PlantValue::Kind::kNumber:
      return "number " + PlantNumberText(value.number);
    case PlantValue::Kind::kText:
      return "text " + value.text;
    case PlantValue::Kind::kList:
      return "list of " + std::to_string(value.elements.size());
    case PlantValue::Kind::kObject:
      break;
  }
  return "object of " + std::to_string(value.members.size());
}

struct ScalarCase {
  std::string_view text;
  const char* expected;
};

TEST(PlantDocument, ReadsQuotedScalarsAsTextsAndPlainOnesByYamlsCoreSchema) {
  const ScalarCase cases[] = {
      {"5", "number 5"},
      {"\"5\"", "text 5"},
      {"'5'", "text 5"},
      {"-1.5e3", "number -1500"},
      {"+12", "number 12"},
      {".5", "number 0.5"},
      {"5.", "number 5"},
      {"0x1F", "number 31"},
      {"0o17", "number 15"},
      {"99999999999999999999", "number 100000000000000000000"},
      {"1_000", "text 1_000"},
      {"-0x10", "text -0x10"},
      {"true", "true"},
      {"False", "false"},
      {"\"true\"", "text true"},
      {"yes", "text yes"},
      {"null", "null"},
      {"~", "null"},
      {"\"null\"", "text null"},
      {"", "null"},
      {"# nothing but a comment\n", "null"},
      {"boiler room  # a comment", "text boiler room"},
      {"\"a # b\"", "text a # b"},
      {"|\n  two\n  lines\n", "text two\nlines\n"},
      {"[]", "list of 0"},
      {"{a: 1, b: [x]}", "object of 2"},
  };
  for (const ScalarCase& c : cases)
    EXPECT_EQ(Describe(ParsePlantDocument(c.text, "t.yaml")), c.expected) << c.text;
}

std::string Nested(size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string Repeat(std::string_view step, size_t times) {
  std::string text;
  for (size_t i = 0; i < times; ++i) text += step;
  return text;
}

struct RefusedCase {
  const char* name;
  std::string text;
  std::string message;
};

TEST(PlantDocument, RefusesWhatAPlantCannotHoldAtItsPlace) {
  const RefusedCase cases[] = {
      {"key twice", "{\n  \"a\": 1,\n  \"d\": true,\n  \"a\": 99\n}\n",
       "t.yaml:4:3: a: the object gives this key twice"},
      {"key twice, once written with an escape",
       R"({"x": [{"k": 1}, {"k": 2, "\u006b": 3}], "k": 4})",
       "t.yaml:1:27: x[1].k: the object gives this key twice"},
      {"key twice in block style", "a:\n  b: 1\n  c: 2\n  b: 3\n",
       "t.yaml:4:3: a.b: the object gives this key twice"},
      {"flow syntax error", "{\"a\": [1, 2}", "t.yaml:1:12: not valid YAML: illegal flow end"},
      // Columns count characters: "°" is one.
      {"flow syntax error after a °", "{\"unit\": \"°C\", \"a\": [1, 2}",
       "t.yaml:1:26: not valid YAML: illegal flow end"},
      {"block syntax error", "a: 1\n  b: 2\n", "t.yaml:2:4: not valid YAML: illegal map value"},
      {"undefined alias", "a: *r\n",
       "t.yaml:1:4: not valid YAML: the referenced anchor is not defined"},
      {"anchor", "a: &x 1\nb: *x\n",
       "t.yaml:1:4: a: anchors (&) are not read; write the value out"},
      {"list holding itself", "- &r [*r]\n",
       "t.yaml:1:3: [0]: anchors (&) are not read; write the value out"},
      {"standard tag", "a: !!str 5\n", "t.yaml:1:4: a: tags (tag:yaml.org,2002:str) are not read"},
      {"own tag", "a: [1, !point {}]\n", "t.yaml:1:8: a[1]: tags (!point) are not read"},
      {"second document", "{\"a\": 1}\n---\n{\"b\": 2}\n",
       "t.yaml:2:1: a second document; a plant file holds one"},
      {"a list as a key", "? [a]\n: b\n", "t.yaml:1:3: a key must be a scalar"},
      {"too deep", Nested(kMaxPlantDepth + 1),
       "t.yaml:1:65: " + Repeat("[0]", kMaxPlantDepth) + ": nested deeper than 64 levels"},
      {"far too deep", Nested(100000),
       "t.yaml:1:65: " + Repeat("[0]", kMaxPlantDepth) + ": nested deeper than 64 levels"},
      {"number too large", "a: 1e999\n", "t.yaml:1:4: a: the number 1e999 is out of range"},
      {"hex number too large", "a: [0x1FFFFFFFFFFFFFFFF]\n",
       "t.yaml:1:5: a[0]: the number 0x1FFFFFFFFFFFFFFFF is out of range"},
      {"infinity", "a: -.inf\n", "t.yaml:1:4: a: the number -.inf is out of range"},
      {"not a number", "a: .nan\n", "t.yaml:1:4: a: the number .nan is out of range"},
      {"a byte that is not UTF-8", "a: 1\nb: \"x\xff\"\n", "t.yaml:2:6: not UTF-8 text"},
      {"a cut UTF-8 sequence", "a: \xc3", "t.yaml:1:4: not UTF-8 text"},
      {"an overlong UTF-8 form", "a: \xc0\xaf", "t.yaml:1:4: not UTF-8 text"},
      {"a UTF-16 byte-order mark", "\xff\xfe{\0}\0", "t.yaml:1:1: not UTF-8 text"},
      {"a NUL byte", std::string("a: 1\0", 5), "t.yaml:1:5: not UTF-8 text"},
  };
  for (const RefusedCase& c : cases) {
    try {
      ParsePlantDocument(c.text, "t.yaml");
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const PlantError& e) {
      EXPECT_EQ(e.what(), c.message) << c.name;
    }
  }
}

TEST(PlantDocument, DescribesPathsForPeople) {
  EXPECT_EQ(DescribePlantPath({}), "");
  EXPECT_EQ(DescribePlantPath({"modules", size_t{0}, "channels", size_t{1}, "ta"}),
            "modules[0].channels[1].ta");
  EXPECT_EQ(DescribePlantPath({size_t{0}, "x"}), "[0].x");
}

}  // namespace
}  // namespace tarvo::plant
