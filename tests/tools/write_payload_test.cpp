// What an item's set topic makes of any payload, and the answer on its
// result topic: a value, or a refusal quoting a short, escaped prefix of
// the bytes, never an exception.
#include "tools/gateway/write_payload.h"

#include <chrono>
#include <string>

#include "gtest/gtest.h"
#include "tools/common/time_text.h"
#include "tools/common/utf8_text.h"

namespace tarvo::tools {
namespace {

using namespace std::string_literals;

constexpr char kValues[] = "the value must be 0, 1, on or off (or true, false)";

struct PayloadCase {
  std::string payload;
  std::optional<uint32_t> value;
  const char* refusal;  // "" with a value
};

const PayloadCase kPayloads[] = {
    {"1", 1, ""},
    {" ON\r\n", 1, ""},
    {"False", 0, ""},
    {"\t0 ", 0, ""},
    {"maybe", std::nullopt, "\"maybe\" is not a value to write"},
    {"", std::nullopt, "\"\" is not a value to write"},
    {"   ", std::nullopt, "\"   \" is not a value to write"},
    {"0x1", std::nullopt, "\"0x1\" is not a value to write"},
    {"1; DROP", std::nullopt, "\"1; DROP\" is not a value to write"},
    {"\"1\"", std::nullopt, "\"\\\"1\\\"\" is not a value to write"},
    {"\0\0\0\0"s, std::nullopt, "\"\\x00\\x00\\x00\\x00\" is not a value to write"},
    {"1\n\x1b[2J", std::nullopt, "\"1\\x0a\\x1b[2J\" is not a value to write"},
    {"\xff\xfe\x00"s, std::nullopt, "\"\\xff\\xfe\\x00\" is not UTF-8 text"},
    {"1\xc0\xb1", std::nullopt, "\"1\\xc0\\xb1\" is not UTF-8 text"},         // overlong
    {"\xed\xa0\x80", std::nullopt, "\"\\xed\\xa0\\x80\" is not UTF-8 text"},  // a surrogate
    {"\xf4\x90\x80\x80", std::nullopt, "\"\\xf4\\x90\\x80\\x80\" is not UTF-8 text"},
    {"\xc2\xb0"
     "C",
     std::nullopt,
     "\"\xc2\xb0"
     "C\" is not a value to write"},
    {"\xc2\x9b"
     "2J",
     std::nullopt, "\"\\xc2\\x9b2J\" is not a value to write"},  // C1 control
    {std::string(257, '1'), std::nullopt,
     "\"11111111111111111111111111111111...\" (257 bytes) is too long to be a value"},
    {std::string(64 * 1024, '0'), std::nullopt,
     "\"00000000000000000000000000000000...\" (65536 bytes) is too long to be a value"},
    {std::string(64 * 1024, '\xff'), std::nullopt,
     "\"\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff...\" (65536 bytes) is not UTF-8 text"},
    {std::string(40, ' ') + "1", 1, ""},
    {R"({"value": 1, "id": "a-1"})", 1, ""},
    {R"( {"id": 7, "value": "OFF"} )", 0, ""},
    {R"({"value": true})", 1, ""},
    {R"({"value": 2, "id": "a-2"})", std::nullopt, "\"2\" is not a value to write"},
    {R"({"value": "1; DROP"})", std::nullopt, "\"\\\"1; DROP\\\"\" is not a value to write"},
    {R"({"id": "a-3"})", std::nullopt, "\"{\\\"id\\\": \\\"a-3\\\"}\" has no \"value\""},
    {R"({"value": 1, "id": ["x"]})", std::nullopt,
     "\"{\\\"value\\\": 1, \\\"id\\\": [\\\"x\\\"]}\": the \"id\" must be a text or a number"},
    {R"({"value": 1, "item": 2})", std::nullopt,
     "\"{\\\"value\\\": 1, \\\"item\\\": 2}\": a write has \"value\" and \"id\", not \"item\""},
    {R"({"value": 1)", std::nullopt, "\"{\\\"value\\\": 1\" is not a value to write"},
};

// The id a JSON write is answered with, kept when its value is refused.
struct IdCase {
  const char* payload;
  const char* id;
};

const IdCase kIds[] = {
    {R"({"value": 1, "id": "a-1"})", R"("a-1")"},
    {R"({"value": 1, "id": 7})", "7"},
    {R"({"value": 9, "id": "a-2"})", R"("a-2")"},
    {R"({"id": "a-3"})", R"("a-3")"},
    {"1", ""},
};

TEST(WritePayload, ReadsSwitchValuesAndRefusesAnyOtherBytesQuotingThem) {
  for (const PayloadCase& c : kPayloads) {
    const WriteRequest request = ParseWritePayload(c.payload);
    EXPECT_EQ(request.value, c.value) << c.refusal;
    EXPECT_EQ(request.refusal.text, c.refusal);
    EXPECT_EQ(request.refusal.gloss, c.value ? "" : kValues) << c.refusal;
    EXPECT_TRUE(request.refusal.codes.empty()) << c.refusal;
  }
}

TEST(WritePayload, KeepsTheIdOfAJsonWrite) {
  for (const IdCase& c : kIds) EXPECT_EQ(ParseWritePayload(c.payload).id, c.id) << c.payload;
}

TEST(WritePayload, QuotesAreCutBetweenCharacters) {
  // 31 bytes, then a two-byte letter that would pass the 32.
  EXPECT_EQ(QuoteBytes("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\xc3\xa9"),
            "\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa...\" (33 bytes)");
  EXPECT_EQ(QuoteBytes("a\xc3\xa9", 3), "\"a\xc3\xa9\"");
  EXPECT_EQ(QuoteBytes("\\"), "\"\\\\\"");
}

TEST(WritePayload, TheResultMessageIsJsonWhateverTheTexts) {
  const auto at = std::chrono::system_clock::time_point(std::chrono::seconds(1767225600));
  EXPECT_EQ(WriteResultMessage("DO4.2", 1, {"OK", {0}, "no error"}, true, at),
            R"({"item":"DO4.2","value":1,"ok":true,"code":0,"error":"OK","gloss":"no error",)"
            R"("time":")" +
                IsoTime(at) + "\"}");
  EXPECT_EQ(WriteResultMessage("DO4.2", 1, {"OK", {0}, "no error"}, true, at, R"("a-1")"),
            R"({"item":"DO4.2","value":1,"ok":true,"code":0,"error":"OK","gloss":"no error",)"
            R"("time":")" +
                IsoTime(at) + R"(","id":"a-1"})");
  const WriteRequest refused = ParseWritePayload("\xff\xfe\x00"s);
  EXPECT_EQ(WriteResultMessage("DO4.2", std::nullopt, refused.refusal, false, at),
            R"({"item":"DO4.2","value":null,"ok":false,"code":null,)"
            R"("error":"\"\\xff\\xfe\\x00\" is not UTF-8 text","gloss":")" +
                std::string(kValues) + R"(","time":")" + IsoTime(at) + "\"}");
  // Bytes that are not UTF-8 in any text become U+FFFD instead of throwing.
  EXPECT_EQ(WriteResultMessage("D\xff", 0, {"\xfe", {}, ""}, false, at),
            "{\"item\":\"D\xef\xbf\xbd\",\"value\":0,\"ok\":false,\"code\":null,"
            "\"error\":\"\xef\xbf\xbd\",\"gloss\":\"\",\"time\":\"" +
                IsoTime(at) + "\"}");
}

}  // namespace
}  // namespace tarvo::tools
