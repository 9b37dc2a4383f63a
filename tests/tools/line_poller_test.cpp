// The writes waiting for a line's polling: never more than one per item,
// however many come, each one replaced handed back to be answered. A line
// that opens but never answers is reopened with growing waits; the modules
// said not to answer.
#include "tools/plant/line_poller.h"

#include "gtest/gtest.h"
#include "sim/pty_pair.h"

namespace tarvo::tools {
namespace {

using std::chrono::seconds;

// Virtual time that passes at once in each wait; the run stops at `end`.
class FakePollerClock final : public PollerClock, public LineObserver {
 public:
  FakePollerClock(LinePoller& poller, Clock::duration end) : poller_(poller), end_(now_ + end) {}
  Clock::time_point Now() override { return now_; }
  Clock::time_point GateNow() override { return now_; }
  void WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&,
                 Clock::time_point until) override {
    now_ = std::max(now_, until);
    if (now_ >= end_) poller_.RequestStop();
  }
  // When the line opened, in seconds from the start.
  void LineUp() override {
    opens.push_back(std::chrono::duration_cast<seconds>(now_ - start_).count());
  }
  std::vector<int64_t> opens;

 private:
  LinePoller& poller_;
  Clock::time_point start_{seconds(1'000'000'000)};
  Clock::time_point now_ = start_;
  Clock::time_point end_;
};

// A line of pxr5700 items on `port`, its objects made and items parsed.
std::unique_ptr<LinePoller> PollerOn(const DriverLibrary& library, const std::string& port,
                                     std::initializer_list<const char*> items) {
  LineConfig config;
  config.port = port;
  ClassGroup group{"pxr5700", {}, {}};
  for (const char* address : items) group.items.push_back({address, "", "", "", {}});
  config.groups = {group};
  std::string unknown;
  const std::optional<std::vector<LineMember>> members = MergeClassGroups(config.groups, &unknown);
  EXPECT_TRUE(members) << unknown;
  auto poller = std::make_unique<LinePoller>(library, *members, config, "test");
  EXPECT_TRUE(poller->CreateObjects(TARVO_LIBRARY_PATH));
  EXPECT_TRUE(poller->ParseItems(true));
  return poller;
}

TEST(LinePoller, ALineWhoseOnlyModuleIsSilentIsReopenedWithGrowingWaits) {
  const DriverLibrary library(TARVO_LIBRARY_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  const sim::PtyPair pty;  // nothing answers at the other end
  const std::unique_ptr<LinePoller> poller = PollerOn(library, pty.slavePath(), {"DI4.0"});
  FakePollerClock clock(*poller, seconds(100));
  poller->SetClock(&clock);
  poller->SetObserver(&clock);
  poller->Run();
  EXPECT_EQ(clock.opens, (std::vector<int64_t>{0, 1, 3, 7, 15, 31, 61, 91}));
}

// A front end that takes each reading as it comes has a poll's record
// keep none, and still learns that one failed.
TEST(LinePoller, APollKeepsItsReadingsOrOnlyWhetherOneFailed) {
  const DriverLibrary library(TARVO_LIBRARY_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  const sim::PtyPair pty;  // nothing answers at the other end
  const std::unique_ptr<LinePoller> poller = PollerOn(library, pty.slavePath(), {"DI4.0", "DI4.1"});
  FakePollerClock clock(*poller, seconds(100));
  poller->SetClock(&clock);
  ASSERT_EQ(poller->Open(), std::nullopt);
  for (const bool keep : {true, false}) {
    poller->KeepReadings(keep);
    const PollRecord poll = poller->Poll();
    EXPECT_EQ(poll.readings.size(), keep ? 2u : 0u) << keep;
    EXPECT_TRUE(poll.failed) << keep;
  }
}

TEST(LinePoller, AWriteWaitingIsReplacedByTheNextToTheSameItem) {
  const DriverLibrary library(TARVO_LIBRARY_PATH);
  ASSERT_TRUE(library.ok()) << library.error();
  const std::unique_ptr<LinePoller> owned =
      PollerOn(library, "/dev/null", {"DO4.2", "DO6.2", "DI4.0"});
  LinePoller& poller = *owned;

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
