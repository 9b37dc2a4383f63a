// The answer lengths the drivers wait for, judged over every prefix of an
// answer as it arrives.
#include "driver/exchange.h"

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tarvo {
namespace {

using serial::kReplyLengthUnknown;
using serial::kReplyNeverWhole;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The rule's verdict after each prefix of answer, from the empty one on.
std::vector<size_t> Verdicts(const serial::ReplyRule& rule, const std::vector<uint8_t>& answer) {
  std::vector<size_t> verdicts;
  for (size_t n = 0; n <= answer.size(); ++n)
    verdicts.push_back(rule(std::span<const uint8_t>(answer.data(), n)));
  return verdicts;
}

constexpr size_t U = kReplyLengthUnknown;
constexpr size_t N = kReplyNeverWhole;
const uint8_t kHead[3] = {'>', '0', '5'};

TEST(ReplyRules, PointListsTakeTheirLengthFromTheirCount) {
  struct Case {
    std::string answer;
    std::vector<size_t> verdicts;
  };
  const Case cases[] = {
      {std::string(">05x\x02\x05\x09\r", 8), {U, U, U, U, U, 8, 8, 8, 8}},
      {std::string(">05x\x00\r", 6), {U, U, U, U, U, 6, 6}},
      {std::string(">05x\xff", 5), {U, U, U, U, U, 261}},
      {">06x", {U, U, U, N, N}},  // another module
      {"<05", {U, N, N, N}},
      {"\r>05", {U, N, N, N, N}},  // a byte left from before
  };
  for (const Case& c : cases)
    EXPECT_EQ(Verdicts(PointListReply(kHead), Bytes(c.answer)), c.verdicts) << c.answer;
}

TEST(ReplyRules, BlockAnswersAreTheHeadAndTheirRecords) {
  EXPECT_EQ(Verdicts(RecordsReply(kHead, 2), Bytes(">05")), (std::vector<size_t>{13, 13, 13, 13}));
  EXPECT_EQ(Verdicts(RecordsReply(kHead, 0), Bytes(">05")), (std::vector<size_t>{5, 5, 5, 5}));
  EXPECT_EQ(Verdicts(RecordsReply(kHead, 2), Bytes(">5")), (std::vector<size_t>{13, 13, N}));
  // A count no buffer could hold does not wrap round to a small length.
  EXPECT_EQ(RecordsReply(kHead, SIZE_MAX / 4)(std::span<const uint8_t>()), N);
}

TEST(ReplyRules, FixedRepliesCheckTheirHeadAsItArrives) {
  const uint8_t head[1] = {'!'};
  EXPECT_EQ(Verdicts(FixedReply(head, 5), Bytes("!0A\x80\r")),
            (std::vector<size_t>{5, 5, 5, 5, 5, 5}));
  EXPECT_EQ(Verdicts(FixedReply(head, 5), Bytes(">0A")), (std::vector<size_t>{5, N, N, N}));
}

}  // namespace
}  // namespace tarvo
