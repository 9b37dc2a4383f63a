// The schedule over a full line of 128 pxr5100 modules, its calls made to
// the driver object on the fake line in the fake clock's virtual time: the
// gates are the driver's own.
#include "tools/plant/schedule.h"

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "sim/pxr5100/module.h"
#include "support/family_rig.h"

namespace tarvo::tools {
namespace {

constexpr int kModules = 128;
constexpr int kChannels = 8;
constexpr int kPoints = 8;

Schedule::Clock::time_point Now(test::FakeSerial& serial) {
  return Schedule::Clock::time_point(std::chrono::milliseconds(serial.clock().NowMs()));
}

TEST(Schedule, ReadsEveryItemOfAFullLineOncePerPollChannelByChannelWithBoundedWork) {
  test::FakeSerial serial(test::kRigStartMs);
  test::FamilyRig rig(serial, 1, test::Family(0), "100,early");
  const DriverClass& pxr5100 = *FindDriverClass("pxr5100");
  std::vector<IoItem> items;
  std::vector<ScheduleEntry> entries;
  for (int m = 0; m < kModules; ++m) {
    auto& module = rig.bus().Emplace<sim::Pxr5100Module>(m);
    for (int c = 0; c < kChannels; ++c) {
      for (int p = 0; p < kPoints; ++p) {
        module.SetValues(c, p, {.ta = 20.0 + p});
        IoItem item{};
        item.DataType = kDataTypeFloat;
        const std::string address =
            "TA" + std::to_string(m) + "." + std::to_string(c) + "." + std::to_string(p);
        ASSERT_EQ(rig.driver().ParseItem(address.c_str(), &item), 1) << address;
        items.push_back(item);
        entries.push_back(ScheduleEntryOf(pxr5100, 0, item, false));
      }
    }
  }
  Schedule schedule(entries);
  schedule.ObjectCreated(0, Now(serial));

  for (int poll = 0; poll < 3; ++poll) {
    SCOPED_TRACE(poll);
    schedule.StartPoll();
    const auto start = Now(serial);
    std::vector<int> reads(items.size());
    std::vector<size_t> order;                                           // the items read, in order
    std::map<int, std::vector<Schedule::Clock::time_point>> blockReads;  // module: each began
    size_t calls = 0, refused = 0, examined = 0, mostExamined = 0;
    auto count = [&] {
      examined += schedule.examined();
      mostExamined = std::max(mostExamined, schedule.examined());
    };
    while (!schedule.PollDone()) {
      const std::optional<size_t> next = schedule.Next(Now(serial));
      count();
      if (!next) {
        ASSERT_GT(schedule.NextGate(), Now(serial));
        serial.clock().Advance((schedule.NextGate() - Now(serial)) / std::chrono::milliseconds(1));
        continue;
      }
      ASSERT_LT(++calls, 4 * items.size());
      const auto began = Now(serial);
      const test::PollResult result = rig.PollItem(test::Operation::kRead, items[*next]);
      schedule.Record(*next, began, result.code, Now(serial));
      count();
      if (result.code == ErrDelayNotElapsed) {
        ++refused;
        continue;
      }
      ASSERT_EQ(result.code, ErrOk) << *next;
      EXPECT_EQ(result.value.AnalogValue, 20.0f + items[*next].Point);
      ++reads[*next];
      order.push_back(*next);
      if (result.writes > 0) blockReads[items[*next].ModuleAddress].push_back(began);
    }
    // Every item once, with no call refused after the first poll (the
    // scans take less than the 2 s before the first gates open, so each
    // module's first read finds its gate shut once).
    EXPECT_EQ(reads, std::vector<int>(items.size(), 1));
    EXPECT_EQ(refused, poll == 0 ? size_t{kModules} : 0u);
    // Channel by channel: each block read followed by the other points of
    // its channel, in order.
    ASSERT_EQ(order.size() % kPoints, 0u);
    for (size_t run = 0; run < order.size(); run += kPoints) {
      for (size_t k = 0; k < kPoints; ++k) {
        ASSERT_EQ(order[run + k], order[run] + k) << run;
      }
    }
    // Each module's 8 channels, each block read 2 whole seconds after the
    // one before (the scans of the first poll excepted): no channel waits
    // longer than its gate.
    for (const auto& [module, times] : blockReads) {
      ASSERT_EQ(times.size(), size_t{kChannels}) << module;
      for (size_t c = 1; c < times.size(); ++c) {
        const auto gap = std::chrono::floor<std::chrono::seconds>(times[c]) -
                         std::chrono::floor<std::chrono::seconds>(times[c - 1]);
        EXPECT_EQ(gap, std::chrono::seconds(2)) << module << " channel " << c;
      }
    }
    EXPECT_LE(Now(serial) - start, std::chrono::seconds(2 * kChannels));
    // The work per call does not grow with the plant: on average a few
    // entries; at most the other points of a channel, or the modules whose
    // gates open in the same second.
    EXPECT_LE(examined, 3 * (calls + refused)) << examined;
    EXPECT_LE(mostExamined, size_t{kPoints + kModules}) << mostExamined;
  }
}

}  // namespace
}  // namespace tarvo::tools
