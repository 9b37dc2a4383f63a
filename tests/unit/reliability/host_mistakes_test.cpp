// What the host may get wrong, through IIoDriver as a host calls it: null
// pointers in every slot, items ParseItem never filled, reads and writes
// on an object whose port was never opened, ClosePort twice and calls
// after it. Every slot returns (result 0 with a fitting code, or the
// documented result), touches nothing it was not given, and never uses a
// closed device.
#include <cstring>
#include <functional>
#include <string>

#include "driver/error_text.h"
#include "gtest/gtest.h"
#include "support/family_rig.h"
#include "tarvo/guids.h"

namespace tarvo::test {
namespace {

std::string Text(DriverError code) { return ErrorText(code); }

// Every class refuses every null pointer the same way, before anything else.
struct NullCall {
  const char* what;
  std::function<int32_t(IIoDriver&)> call;
  DriverError code;
};

TEST(HostMistakes, NullPointersFailTheSlotWithItsCode) {
  IoItem item{};
  item.DataType = kDataTypeFloat;
  IoValue value{};
  LineSettings* noSettings = nullptr;
  PortConfig config{};
  config.Settings = noSettings;
  std::strcpy(config.TimeoutText, "300");
  const NullCall calls[] = {
      {"OpenPort(null)", [](IIoDriver& d) { return d.OpenPort(nullptr); }, ErrCreatePort},
      {"OpenPort(no settings)", [&](IIoDriver& d) { return d.OpenPort(&config); }, ErrCreatePort},
      {"ParseItem(null text)", [&](IIoDriver& d) { return d.ParseItem(nullptr, &item); },
       ErrRegisterName},
      {"ParseItem(null item)", [](IIoDriver& d) { return d.ParseItem("TA1.0.0", nullptr); },
       ErrRegisterName},
      {"ReadItem(null item)", [&](IIoDriver& d) { return d.ReadItem(0, nullptr, &value); },
       ErrReadData},
      {"ReadItem(null value)", [&](IIoDriver& d) { return d.ReadItem(0, &item, nullptr); },
       ErrReadData},
      {"WriteItem(null item)", [&](IIoDriver& d) { return d.WriteItem(0, nullptr, &value); },
       ErrPortWrite},
      {"WriteItem(null value)", [&](IIoDriver& d) { return d.WriteItem(0, &item, nullptr); },
       ErrPortWrite},
  };
  for (size_t family = 0; family < kFamilyCount; ++family) {
    FamilyRig rig(Family(family), /*openPort=*/false);
    IIoDriver& driver = rig.driver();
    for (const NullCall& c : calls) {
      const IoItem itemBefore = item;
      EXPECT_EQ(c.call(driver), 0) << Family(family).name << " " << c.what;
      EXPECT_EQ(driver.GetErrorText(), Text(c.code)) << Family(family).name << " " << c.what;
      EXPECT_EQ(std::memcmp(&item, &itemBefore, sizeof item), 0) << c.what;
    }
    EXPECT_EQ(config.SharedHandle, nullptr);
    EXPECT_EQ(rig.serial().line(1).opens(), 0);

    // The slots without a result leave the code alone.
    driver.GetRegisterTable(nullptr, nullptr);
    int16_t count = 0;
    driver.GetRegisterTable(nullptr, &count);
    EXPECT_GT(count, 0);
    RegisterDesc* table = nullptr;
    driver.GetRegisterTable(&table, nullptr);
    EXPECT_NE(table, nullptr);
    EXPECT_EQ(driver.QueryInterface(IID_IIoDriver, nullptr), E_POINTER);
    EXPECT_EQ(driver.GetErrorText(), Text(ErrOk)) << Family(family).name;
  }
}

// A refusal or failure: its code, the writes it put on the line and the
// virtual time it blocked. Result 1 for code 0.
struct Outcome {
  DriverError code;
  size_t writes;
  int64_t ms;
};

struct Mistakes {
  Outcome neverOpenedRead, neverOpenedWrite;
  // Items ParseItem never filled: all zeros (register 0, module 0), and
  // all bytes 0xA5 (every number negative).
  Outcome zeroRead, zeroWrite, garbageRead, garbageWrite;
  // A cycle after ClosePort.
  Outcome closedRead, closedWrite;
};

// The sensor families write nothing: WriteItem succeeds without a word on
// the line, whatever the item. A read of a module never scanned scans it
// first, so a port never opened fails the scan's first write: code 24.
// Module 0 is not on the bus: its scan gets no answer.
// clang-format off
const Mistakes kMistakes[kFamilyCount] = {
    // pxr5100
    {{ErrInitModule, 0, 0}, {ErrOk, 0, 0},
     {ErrInitModule, 1, 200}, {ErrOk, 0, 0}, {ErrModuleAddress, 0, 0}, {ErrOk, 0, 0},
     {ErrPortWrite, 0, 0}, {ErrOk, 0, 0}},
    // pxr5303
    {{ErrInitModule, 0, 0}, {ErrOk, 0, 0},
     {ErrInitModule, 1, 200}, {ErrOk, 0, 0}, {ErrModuleAddress, 0, 0}, {ErrOk, 0, 0},
     {ErrPortWrite, 0, 0}, {ErrOk, 0, 0}},
    // pxr530x: the 10000 ms wait comes before the block read's line check.
    {{ErrInitModule, 0, 0}, {ErrOk, 0, 0},
     {ErrInitModule, 1, 200}, {ErrOk, 0, 0}, {ErrModuleAddress, 0, 0}, {ErrOk, 0, 0},
     {ErrPortWrite, 0, 10000}, {ErrOk, 0, 0}},
    // pxr5700: register 0 is DI, so a zero item is "DI0.0" and is asked for;
    // any register but DO is refused for writing.
    {{ErrPortWrite, 0, 0}, {ErrPortWrite, 0, 0},
     {ErrPortRead, 1, 300}, {ErrRegisterUnsupported, 0, 0},
     {ErrRegisterUnsupported, 0, 0}, {ErrRegisterUnsupported, 0, 0},
     {ErrPortWrite, 0, 0}, {ErrPortWrite, 0, 0}},
    // pxr5760: a register outside 1..7 takes the road of any read, so the
    // zero item scans module 0, and the garbage item is refused for its
    // module. A write finds the gate shut (just created; or used by the
    // read before it) or the line unusable in all three passes: 22.
    {{ErrInitModule, 0, 0}, {ErrReadData, 0, 0},
     {ErrInitModule, 1, 200}, {ErrRegisterUnsupported, 0, 0},
     {ErrModuleAddress, 0, 0}, {ErrRegisterUnsupported, 0, 0},
     {ErrPortWrite, 0, 0}, {ErrReadData, 0, 0}},
};
// clang-format on

class HostMistakesOf : public ::testing::TestWithParam<size_t> {
 protected:
  const FamilySpec& spec() const { return Family(GetParam()); }
  const Mistakes& mistakes() const { return kMistakes[GetParam()]; }
};

void ExpectOutcome(const PollResult& poll, const Outcome& expected, Operation operation,
                   const char* what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(poll.code, expected.code);
  EXPECT_EQ(poll.result, expected.code == ErrOk ? 1 : 0);
  EXPECT_EQ(poll.writes, expected.writes);
  EXPECT_EQ(poll.elapsedMs, expected.ms);
  if (operation == Operation::kRead && expected.code != ErrOk) {
    EXPECT_EQ(poll.value.AnalogValue, kUntouchedAnalog);
    EXPECT_EQ(poll.value.DiscreteValue, kUntouchedBits);
  }
}

TEST_P(HostMistakesOf, APortNeverOpenedFailsAtOnce) {
  FamilyRig rig(spec(), /*openPort=*/false);
  ExpectOutcome(rig.Poll(Operation::kRead), mistakes().neverOpenedRead, Operation::kRead, "read");
  ExpectOutcome(rig.Poll(Operation::kWrite), mistakes().neverOpenedWrite, Operation::kWrite,
                "write");
  EXPECT_EQ(rig.serial().line(1).opens(), 0);
}

TEST_P(HostMistakesOf, ItemsNeverParsedAreRefusedOrAskedForAsTheyStand) {
  FamilyRig rig(spec());
  IoItem zero{};
  IoItem garbage;
  std::memset(&garbage, 0xA5, sizeof garbage);
  ExpectOutcome(rig.PollItem(Operation::kRead, zero), mistakes().zeroRead, Operation::kRead,
                "zero read");
  ExpectOutcome(rig.PollItem(Operation::kWrite, zero), mistakes().zeroWrite, Operation::kWrite,
                "zero write");
  ExpectOutcome(rig.PollItem(Operation::kRead, garbage), mistakes().garbageRead, Operation::kRead,
                "garbage read");
  ExpectOutcome(rig.PollItem(Operation::kWrite, garbage), mistakes().garbageWrite,
                Operation::kWrite, "garbage write");
}

TEST_P(HostMistakesOf, ClosePortTwiceThenCallsAfterItThenOpenAgain) {
  FamilyRig rig(spec());
  IIoDriver& driver = rig.driver();
  rig.Poll(Operation::kRead);  // scans the module
  rig.Wait(2000);
  ASSERT_EQ(rig.Poll(Operation::kRead).result, 1);

  IoItem item{};
  ASSERT_EQ(driver.ParseItem("XX1.0.0", &item), 0);  // leaves code 1 pending
  EXPECT_EQ(driver.ClosePort(0), 1);
  EXPECT_EQ(driver.ClosePort(0), 1);
  EXPECT_EQ(driver.GetErrorText(), Text(ErrRegisterUnsupported));
  EXPECT_FALSE(rig.serial().line(1).isOpen());
  EXPECT_EQ(rig.serial().line(1).closes(), 1);

  rig.Wait(2000);
  ExpectOutcome(rig.Poll(Operation::kRead), mistakes().closedRead, Operation::kRead, "read");
  ExpectOutcome(rig.Poll(Operation::kWrite), mistakes().closedWrite, Operation::kWrite, "write");
  EXPECT_EQ(rig.serial().line(1).usesAfterClose(), 0);

  // The host's PortConfig still names the closed line: it is not adopted,
  // the device is opened afresh.
  ASSERT_EQ(rig.OpenPort(), 1);
  EXPECT_EQ(rig.serial().line(1).opens(), 2);
  rig.Wait(2000);
  const PollResult again = rig.Poll(Operation::kRead);
  EXPECT_EQ(again.result, 1);
  EXPECT_EQ(again.value.AnalogValue, kHealthyValue);
}

INSTANTIATE_TEST_SUITE_P(Families, HostMistakesOf, ::testing::Range<size_t>(0, kFamilyCount),
                         [](const auto& info) { return std::string(Family(info.param).name); });

}  // namespace
}  // namespace tarvo::test
