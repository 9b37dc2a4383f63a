// What each fault switch does to a module's answer on the wire, and for how
// many answers the switches stay on.
#include "sim/faults.h"

#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/pxr5100/module.h"

namespace tarvo::sim {
namespace {

using namespace std::string_literals;

struct Piece {
  int64_t delayMs;
  std::string bytes;
  bool operator==(const Piece&) const = default;
};

void PrintTo(const Piece& p, std::ostream* os) {
  *os << "{" << p.delayMs << ", \"";
  for (unsigned char c : p.bytes) {
    if (c >= 0x20 && c < 0x7F)
      *os << c;
    else
      *os << "\\x" << std::hex << int{c} << std::dec;
  }
  *os << "\"}";
}

std::vector<Piece> Pieces(const std::vector<Chunk>& chunks) {
  std::vector<Piece> pieces;
  for (const Chunk& c : chunks) pieces.push_back({c.delayMs, ToText(c.bytes)});
  return pieces;
}

// Module 10 with points 5 and 9 on channel 1; its healthy scan answer of
// channel 1 is kScan.
const std::string kScan = ">0a1\x02\x05\x09\r"s;
const std::string kBlock =
    ">0a1\x02"
    "abcdABCD"s;

std::unique_ptr<Pxr5100Module> MakeModule() {
  auto module = std::make_unique<Pxr5100Module>(10);
  module->SetRecord(1, 5, {'a', 'b', 'c', 'd'});
  module->SetRecord(1, 9, {'A', 'B', 'C', 'D'});
  return module;
}

struct FaultCase {
  const char* name;
  Faults faults;
  const char* command;
  std::vector<Piece> expected;
};

class FaultEffects : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultEffects, ShapeTheAnswer) {
  auto module = MakeModule();
  module->SetFaults(GetParam().faults);
  EXPECT_EQ(Pieces(module->Respond(ToBytes(GetParam().command), 0)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, FaultEffects,
    ::testing::Values(
        FaultCase{"healthy", {}, "*0a1\r", {{0, kScan}}},
        FaultCase{"silent", {.silent = true}, "*0a1\r", {}},
        FaultCase{"head", {.head = '!'}, "*0a1\r", {{0, "!0a1\x02\x05\x09\r"s}}},
        FaultCase{"addressCase",
                  {.swapAddressCase = true},
                  "#0a1\r",
                  {{0,
                    ">0A1\x02"
                    "abcdABCD"s}}},
        FaultCase{"otherAddress", {.fromAddress = 0x7b}, "*0a1\r", {{0, ">7b1\x02\x05\x09\r"s}}},
        FaultCase{"truncated", {.truncateTo = 6}, "*0a1\r", {{0, ">0a1\x02\x05"s}}},
        FaultCase{"truncatedToNothing", {.truncateTo = 0}, "*0a1\r", {}},
        FaultCase{"noFinalCr", {.dropFinalCr = true}, "*0a1\r", {{0, ">0a1\x02\x05\x09"s}}},
        // A block-read answer has no end byte to leave off.
        FaultCase{"noFinalCrInBlock", {.dropFinalCr = true}, "#0a1\r", {{0, kBlock}}},
        FaultCase{"padded", {.padding = 4, .padByte = 'z'}, "*0a1\r", {{0, kScan + "zzzz"}}},
        FaultCase{
            "noiseBefore", {.noise = {.count = 3, .fixed = '?'}}, "*0a1\r", {{0, "???" + kScan}}},
        FaultCase{"noiseInstead",
                  {.noise = {.count = 2, .replaceAnswer = true, .fixed = 0}},
                  "*0a1\r",
                  {{0, "\0\0"s}}},
        FaultCase{"delayed", {.delayMs = 700}, "*0a1\r", {{700, kScan}}},
        FaultCase{"inPieces",
                  {.pieces = 3, .gapMs = 20},
                  "*0a1\r",
                  {{0, ">0a"}, {20, "1\x02\x05"s}, {40, "\x09\r"s}}},
        FaultCase{"delayedInPieces",
                  {.delayMs = 100, .pieces = 2, .gapMs = 50},
                  "#0a1\r",
                  {{100,
                    ">0a1\x02"
                    "ab"s},
                   {150, "cdABCD"}}},
        FaultCase{"morePiecesThanBytes",
                  {.truncateTo = 2, .pieces = 5, .gapMs = 1},
                  "*0a1\r",
                  {{0, ">"}, {1, "0"}}},
        FaultCase{
            "pointOutOfRange", {.extraPoint = 64}, "*0a1\r", {{0, ">0a1\x03\x05\x09\x40\r"s}}},
        FaultCase{"pointTwice", {.pointTwice = true}, "*0a1\r", {{0, ">0a1\x03\x05\x09\x05\r"s}}},
        FaultCase{"pointTwiceAndOutOfRange",
                  {.extraPoint = 255, .pointTwice = true},
                  "*0a1\r",
                  {{0, ">0a1\x04\x05\x09\x05\xFF\r"s}}},
        FaultCase{"pointFaultsOnAnEmptyChannel",
                  {.extraPoint = 70, .pointTwice = true},
                  "*0a2\r",
                  {{0, ">0a2\x01\x46\r"s}}},
        // Point-list switches leave the block-read answer as it is.
        FaultCase{
            "pointFaultsInBlock", {.extraPoint = 64, .pointTwice = true}, "#0a1\r", {{0, kBlock}}},
        // Edits in their documented order: head, address, CR, truncation,
        // padding, noise, then the timing.
        FaultCase{"combined",
                  {.head = '<',
                   .fromAddress = 11,
                   .truncateTo = 4,
                   .padding = 1,
                   .padByte = '+',
                   .noise = {.count = 1, .fixed = '~'},
                   .delayMs = 5,
                   .pieces = 2,
                   .gapMs = 10},
                  "*0a1\r",
                  {{5, "~<0"}, {15, "b1+"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultEffects, AddressFaultsFollowTheFamilysAddressForm) {
  std::mt19937 rng;
  const auto apply = [&](const Faults& faults, const AddressForm& form) {
    return Pieces(ApplyFaults(ToBytes("!x3CZ\r"), faults, form, rng)).at(0).bytes;
  };
  const AddressForm upperAt2{.offset = 2, .letterCase = HexCase::kUpper};
  EXPECT_EQ(apply({.swapAddressCase = true}, upperAt2), "!x3cZ\r");
  EXPECT_EQ(apply({.fromAddress = 0x7f}, upperAt2), "!x7FZ\r");
  // Digits may be the last two bytes; digits that would reach past the end are left alone.
  EXPECT_EQ(apply({.fromAddress = 0x7f}, {.offset = 4}), "!x3C7f");
  EXPECT_EQ(apply({.fromAddress = 0x7f}, {.offset = 5}), "!x3CZ\r");
  EXPECT_EQ(apply({.fromAddress = 0x7f}, {.offset = 9}), "!x3CZ\r");
  const AddressForm none{.present = false};
  EXPECT_EQ(apply({.swapAddressCase = true, .fromAddress = 1}, none), "!x3CZ\r");
}

TEST(FaultEffects, OverlongAnswerCarriesThePaddingAfterTheAnswer) {
  auto module = MakeModule();
  module->SetFaults({.padding = 3000});
  const std::vector<Chunk> chunks = module->Respond(ToBytes("*0a1\r"), 0);
  ASSERT_EQ(chunks.size(), 1u);
  ASSERT_EQ(chunks[0].bytes.size(), kScan.size() + 3000);
  EXPECT_EQ(ToText(chunks[0].bytes).substr(0, kScan.size()), kScan);
  EXPECT_EQ(ToText(chunks[0].bytes).substr(kScan.size()), std::string(3000, '\x55'));
}

TEST(FaultEffects, RandomNoiseRepeatsForItsSeed) {
  const Faults noisy{.noise = {.count = 64, .seed = 7}};
  auto first = MakeModule();
  auto second = MakeModule();
  first->SetFaults(noisy);
  second->SetFaults(noisy);
  const std::string a = Pieces(first->Respond(ToBytes("*0a1\r"), 0)).at(0).bytes;
  EXPECT_EQ(a, Pieces(second->Respond(ToBytes("*0a1\r"), 0)).at(0).bytes);
  ASSERT_EQ(a.size(), 64 + kScan.size());
  EXPECT_EQ(a.substr(64), kScan);
  // 64 bytes drawn from a generator: not all alike.
  EXPECT_NE(a.substr(0, 64), std::string(64, a[0]));
  second->SetFaults({.noise = {.count = 64, .seed = 8}});
  EXPECT_NE(Pieces(second->Respond(ToBytes("*0a1\r"), 0)).at(0).bytes, a);
}

TEST(FaultDuration, CountedFaultsLastThatManyAnswersSilentOnesIncluded) {
  auto module = MakeModule();
  module->SetFaults({.silent = true}, 2);
  EXPECT_TRUE(module->faults().silent);
  EXPECT_TRUE(module->Respond(ToBytes("*0a1\r"), 0).empty());
  EXPECT_TRUE(module->Respond(ToBytes("#0a1\r"), 0).empty());
  EXPECT_FALSE(module->faults().silent);
  EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)), (std::vector<Piece>{{0, kScan}}));
}

TEST(FaultDuration, UncountedFaultsLastUntilClearedOrReplaced) {
  auto module = MakeModule();
  module->SetFaults({.head = '?'});
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)).at(0).bytes[0], '?');
  }
  module->SetFaults({.delayMs = 9}, 1);
  EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)), (std::vector<Piece>{{9, kScan}}));
  EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)), (std::vector<Piece>{{0, kScan}}));
  module->SetFaults({.head = '?'});
  module->ClearFaults();
  EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)), (std::vector<Piece>{{0, kScan}}));
}

TEST(FaultDuration, ZeroAnswersSwitchesNothingOn) {
  auto module = MakeModule();
  module->SetFaults({.silent = true}, 0);
  EXPECT_EQ(Pieces(module->Respond(ToBytes("*0a1\r"), 0)), (std::vector<Piece>{{0, kScan}}));
}

}  // namespace
}  // namespace tarvo::sim
