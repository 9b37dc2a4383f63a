// Two lines of one class polled from two threads while a third creates and
// releases objects of the class, installs and removes a trace handler and
// maps a port: every value read is its own line's, every failure a shut
// gate or a reset's rescan, and (in the ThreadSanitizer build) no data race
// and no use of freed state.
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "lines/line_host.h"
#include "serial/clock.h"
#include "sim/bus.h"
#include "support/fake_platform.h"
#include "support/host_port.h"
#include "tarvo/tarvo.h"

namespace tarvo::test {
namespace {

constexpr int kReads = 300;
constexpr int kCreations = 100;

// Virtual time that any thread may move on: a sleep passes at once.
class SharedVirtualClock final : public serial::Clock {
 public:
  void SleepMs(uint32_t ms) override { nowMs_.fetch_add(ms); }
  int64_t NowMs() override { return nowMs_.load(); }

 private:
  std::atomic<int64_t> nowMs_{1'000'000};
};

// The trace handler checks that its context came with it.
int kFirstTag = 1;
int kSecondTag = 2;
std::atomic<int> tornPairs{0};
void FirstHandler(void* context, const char*, const uint8_t*, int32_t) {
  if (context != &kFirstTag) ++tornPairs;
}
void SecondHandler(void* context, const char*, const uint8_t*, int32_t) {
  if (context != &kSecondTag) ++tornPairs;
}

class LinesInParallel : public ::testing::TestWithParam<size_t> {
 protected:
  const FamilySpec& spec() const { return Family(GetParam()); }

  void SetUp() override {
    serial::SetClock(&clock_);
    serial::SetPlatform(&platform_);
    for (int line = 0; line < 2; ++line) {
      platform_.line(line + 1).SetPeer(buses_[line].Peer());
      spec().populate(buses_[line]);
    }
    SetReadings(*buses_[0].Find(kRigModule), GetParam(), 5.0f, 6.0f);
    SetReadings(*buses_[1].Find(kRigModule), GetParam(), 7.0f, 8.0f);
  }
  void TearDown() override {
    TarvoSetTraceHandler(nullptr, nullptr);
    serial::SetPlatform(nullptr);
    serial::SetClock(nullptr);
  }

  // Reads the line's two items in turn; counts the values, and the reads
  // that gave another line's value or failed with an unexpected code.
  struct Tally {
    int values = 0;
    int wrong = 0;
  };
  Tally Poll(Host& host, float read, float sibling) {
    Tally tally;
    for (int i = 0; i < kReads; ++i) {
      const bool first = i % 2 == 0;
      int32_t code = 0;
      const float value = host.Read(first ? spec().readAddress : kSibling[GetParam()], &code);
      if (!std::isnan(value)) {
        ++tally.values;
        if (value != (first ? read : sibling)) ++tally.wrong;
      } else if (code == ErrDelayNotElapsed) {
        clock_.SleepMs(1000);  // the host's cycle
      } else {
        ++tally.wrong;
      }
    }
    return tally;
  }

  SharedVirtualClock clock_;
  FakePlatform platform_;
  sim::Bus buses_[2];
  HostPort ports_[2] = {HostPort(1), HostPort(2)};
};

TEST_P(LinesInParallel, EveryValueIsItsOwnLines) {
  Host first(spec());
  Host second(spec());
  ASSERT_EQ(first.Open(&ports_[0].config), 1);
  ASSERT_EQ(second.Open(&ports_[1].config), 1);

  std::atomic<bool> polling{true};
  std::thread churn([&] {
    int created = 0;
    while (polling.load() || created < kCreations) {
      Host passing(spec());
      TarvoSetTraceHandler(created % 2 == 0 ? FirstHandler : SecondHandler,
                           created % 2 == 0 ? &kFirstTag : &kSecondTag);
      TarvoSetPortDevice(200, created % 2 == 0 ? "/dev/null" : nullptr);
      ++created;
      std::this_thread::yield();
    }
  });
  Tally tallies[2];
  std::thread one([&] { tallies[0] = Poll(first, 5.0f, 6.0f); });
  std::thread two([&] { tallies[1] = Poll(second, 7.0f, 8.0f); });
  one.join();
  two.join();
  polling = false;
  churn.join();

  for (int line = 0; line < 2; ++line) {
    EXPECT_GT(tallies[line].values, 0) << "line " << line + 1;
    EXPECT_EQ(tallies[line].wrong, 0) << "line " << line + 1;
  }
  EXPECT_EQ(tornPairs.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Families, LinesInParallel, ::testing::Range<size_t>(0, kFamilyCount),
                         [](const auto& info) { return std::string(Family(info.param).name); });

}  // namespace
}  // namespace tarvo::test
