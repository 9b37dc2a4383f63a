// pxrsim's --fault option: the module it names and the switches it sets.
#include "tools/pxrsim/fault_option.h"

#include "gtest/gtest.h"
#include "sim/module.h"

namespace tarvo::tools {
namespace {

TEST(FaultOption, SetsTheSwitchesItNames) {
  const FaultOption delay = ParseFaultOption("12:delay_ms=600,pieces=3,gap_ms=20");
  EXPECT_EQ(delay.address, 12);
  EXPECT_EQ(delay.setting.faults.delayMs, 600);
  EXPECT_EQ(delay.setting.faults.pieces, 3);
  EXPECT_EQ(delay.setting.faults.gapMs, 20);
  EXPECT_EQ(delay.setting.answers, sim::Module::kUntilCleared);

  const FaultOption silent = ParseFaultOption("all:silent,answers=2");
  EXPECT_FALSE(silent.address.has_value());
  EXPECT_TRUE(silent.setting.faults.silent);
  EXPECT_EQ(silent.setting.answers, 2);

  // A byte as a character or a number; a switch set false.
  // The forms of a plant file: 0x21 for a byte, 1 and 0 for on and off.
  const FaultOption plantForms =
      ParseFaultOption("3:head=0x21,pad_byte=0X7f,silent=1,point_twice=0");
  EXPECT_EQ(plantForms.setting.faults.head, uint8_t{0x21});
  EXPECT_EQ(plantForms.setting.faults.padByte, uint8_t{0x7F});
  EXPECT_TRUE(plantForms.setting.faults.silent);
  EXPECT_FALSE(plantForms.setting.faults.pointTwice);
  const FaultOption bytes = ParseFaultOption("0:head=!,noise=4,noise_byte=85,drop_final_cr=false");
  EXPECT_EQ(bytes.address, 0);
  EXPECT_EQ(bytes.setting.faults.head, uint8_t{'!'});
  EXPECT_EQ(bytes.setting.faults.noise.count, 4u);
  EXPECT_EQ(bytes.setting.faults.noise.fixed, uint8_t{85});
  EXPECT_FALSE(bytes.setting.faults.dropFinalCr);
}

struct BadOption {
  const char* text;
  const char* message;
};

TEST(FaultOption, RefusesWhatItCannotReadQuotingTheOption) {
  const BadOption cases[] = {
      {"silent", "--fault silent: expected ADDRESS:SWITCH[=VALUE][,...], e.g. 1:delay_ms=600"},
      {"1:", "--fault 1:: expected ADDRESS:SWITCH[=VALUE][,...], e.g. 1:delay_ms=600"},
      {"128:silent", "--fault 128:silent: the address must be 0..127 or all"},
      {"x1:silent", "--fault x1:silent: the address must be 0..127 or all"},
      {"1:late",
       "--fault 1:late: late: unknown key; expected one of: silent, head, "
       "swap_address_case, from_address, truncate_to, drop_final_cr, padding, "
       "pad_byte, noise, noise_replaces_answer, noise_byte, noise_seed, delay_ms, "
       "pieces, gap_ms, extra_point, point_twice, answers"},
      {"1:delay_ms",
       "--fault 1:delay_ms: delay_ms: expected a whole number from 0 to 60000, "
       "found true"},
      {"1:delay_ms=", "--fault 1:delay_ms=: switch delay_ms has no value after '='"},
      {"1:delay_ms=soon",
       "--fault 1:delay_ms=soon: delay_ms: expected a whole number from 0 "
       "to 60000, found a text"},
      {"1:silent,,pieces=2", "--fault 1:silent,,pieces=2: a switch has no name"},
      {"1:head=300", "--fault 1:head=300: head: expected a whole number from 0 to 255, found 300"},
  };
  for (const BadOption& c : cases) {
    try {
      ParseFaultOption(c.text);
      ADD_FAILURE() << c.text << " was accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(), c.message) << c.text;
    }
  }
}

}  // namespace
}  // namespace tarvo::tools
