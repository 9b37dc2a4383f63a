// The writes waiting for a line's polling: never more than one per item,
// however many come, each one replaced handed back to be answered; the
// modules said not to answer.
#include "tools/plant/line_poller.h"

#include "gtest/gtest.h"

namespace tarvo::tools {
namespace {

TEST(LinePoller, AWriteWaitingIsReplacedByTheNextToTheSameItem) {
  const DriverLibrary library(TARVO_LIBRARY_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  std::string unknown;
  LineConfig config;
  config.port = "/dev/null";
  ClassGroup group{"pxr5700", {}, {}};
  for (const char* address : {"DO4.2", "DO6.2", "DI4.0"})
    group.items.push_back({address, "", "", "", ""});
  config.groups = {group};
  const std::optional<std::vector<LineMember>> members = MergeClassGroups(config.groups, &unknown);
  ASSERT_TRUE(members) << unknown;
  LinePoller poller(library, *members, config, "test");
  ASSERT_TRUE(poller.CreateObjects(TARVO_LIBRARY_PATH));
  ASSERT_TRUE(poller.ParseItems(true));

  // A flood to one item, and to another between: one waits per item, the
  // one it replaced handed back each time.
  EXPECT_EQ(poller.Submit(0, 1), std::nullopt);
  EXPECT_EQ(poller.Submit(1, 0), std::nullopt);
  for (uint32_t i = 0; i < 1000; ++i) {
    EXPECT_EQ(poller.Submit(0, i % 2), std::optional<uint32_t>(1 - i % 2)) << i;
    EXPECT_EQ(poller.Submit(1, 1 - i % 2), std::optional<uint32_t>(i % 2)) << i;
  }
}

// A module is said silent when its commands of a poll got no byte back:
// once, again only after it has answered; a poll that sent it nothing
// (its gate shut) changes nothing.
TEST(SilentModules, SaidOnceEachTimeAModuleFallsSilent) {
  struct Poll {
    Traffic module4;  // pxr5700 module 4
    Traffic module6;
    std::vector<std::string> said;
  };
  const std::string silent4 =
      "pxr5700 module 4 does not answer: check its address, the baud rate and the wiring (3 "
      "commands, 0 bytes)";
  const Poll polls[] = {
      {{3, 0}, {1, 9}, {silent4}},
      {{3, 0}, {1, 9}, {}},
      {{0, 0}, {1, 9}, {}},
      {{1, 0},
       {2, 0},
       {"pxr5700 module 6 does not answer: check its address, the baud rate and the wiring (2 "
        "commands, 0 bytes)"}},
      {{2, 5}, {1, 1}, {}},
      {{3, 0}, {1, 1}, {silent4}},
  };
  SilentModules modules;
  int number = 0;
  for (const Poll& poll : polls) {
    modules.Add("pxr5700", 4, poll.module4);
    modules.Add("pxr5700", 6, poll.module6);
    EXPECT_EQ(modules.PollEnded(), poll.said) << "poll " << ++number;
  }
}

}  // namespace
}  // namespace tarvo::tools
