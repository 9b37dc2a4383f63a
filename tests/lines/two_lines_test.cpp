// Two lines, each with a module of the family at the same address and
// different readings: what a class keeps of a module is its line's. Each
// line reads its own values and scans its own module without a word on the
// other line; an object that adopts a line's handle shares that line's
// records; a new object still makes every line start afresh.
#include <string>

#include "gtest/gtest.h"
#include "lines/line_host.h"
#include "sim/bus.h"
#include "support/fake_serial.h"
#include "support/host_port.h"
#include "support/rig_families.h"

namespace tarvo::test {
namespace {

class TwoLines : public ::testing::TestWithParam<size_t> {
 protected:
  const FamilySpec& spec() const { return Family(GetParam()); }

  TwoLines() {
    for (int line = 0; line < 2; ++line) {
      serial_.line(line + 1).SetPeer(buses_[line].Peer());
      spec().populate(buses_[line]);
    }
    SetReadings(*buses_[0].Find(kRigModule), GetParam(), 5.0f, 6.0f);
    SetReadings(*buses_[1].Find(kRigModule), GetParam(), 7.0f, 8.0f);
  }

  // Reads address on host, waiting out the gate once when it is shut.
  float ReadValue(Host& host, const char* address) {
    const float first = host.Read(address);
    if (!std::isnan(first)) return first;
    serial_.clock().Advance(2000);
    return host.Read(address);
  }
  size_t Writes(int line) { return serial_.line(line + 1).writes().size(); }
  size_t Scans(int line) {
    const char lead[2] = {kScanLead[GetParam()], 0};
    return kScanLead[GetParam()] == 0 ? 0 : buses_[line].log().Count(lead);
  }

  FakeSerial serial_{1'000'000};
  sim::Bus buses_[2];
  HostPort ports_[2] = {HostPort(1), HostPort(2)};
};

TEST_P(TwoLines, EachLineReadsItsOwnModule) {
  Host first(spec());
  Host second(spec());
  Host adopter(spec());
  ASSERT_EQ(first.Open(&ports_[0].config), 1);
  ASSERT_EQ(second.Open(&ports_[1].config), 1);
  ASSERT_EQ(adopter.Open(&ports_[0].config), 1);  // adopts line 1's handle
  EXPECT_EQ(serial_.line(1).opens(), 1);

  EXPECT_EQ(ReadValue(first, spec().readAddress), 5.0f);
  EXPECT_EQ(Writes(1), 0u);
  EXPECT_EQ(ReadValue(second, spec().readAddress), 7.0f);
  const size_t firstLine = Writes(0);
  EXPECT_EQ(Scans(1), Scans(0));  // line 2 scanned its own module, as line 1 did

  // The adopter is served from line 1's records, without traffic.
  EXPECT_EQ(adopter.Read(kSibling[GetParam()]), 6.0f);
  EXPECT_EQ(Writes(0), firstLine);
  EXPECT_EQ(ReadValue(second, kSibling[GetParam()]), 8.0f);

  // A new object makes every line start afresh.
  const size_t scans[2] = {Scans(0), Scans(1)};
  const size_t writes[2] = {Writes(0), Writes(1)};
  Host newcomer(spec());
  serial_.clock().Advance(2000);
  EXPECT_EQ(ReadValue(first, kSibling[GetParam()]), 6.0f);
  EXPECT_EQ(ReadValue(second, spec().readAddress), 7.0f);
  for (int line = 0; line < 2; ++line) {
    EXPECT_GT(Writes(line), writes[line]) << "line " << line + 1;
    if (kScanLead[GetParam()] != 0) {
      EXPECT_GT(Scans(line), scans[line]) << "line " << line + 1;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, TwoLines, ::testing::Range<size_t>(0, kFamilyCount),
                         [](const auto& info) { return std::string(Family(info.param).name); });

}  // namespace
}  // namespace tarvo::test
