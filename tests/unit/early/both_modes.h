// A driver object of any family on a fake line, opened with or without the
// early-reply option, playing a list of host calls against a simulated
// module; and what came of each call. Tests play the same list in both
// modes and compare: results, codes, values and the bytes sent must agree,
// only the time may differ.
#pragma once

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "sim/bus.h"
#include "sim/faults.h"
#include "support/fake_serial.h"
#include "support/host_port.h"
#include "tarvo/records.h"

namespace tarvo::test {

inline constexpr int64_t kEarlyStartMs = 1'000'000;

// One host action.
struct Op {
  enum Kind { kRead, kWrite, kAt, kFaults } kind;
  const char* address = nullptr;  // kRead, kWrite
  int64_t number = 0;             // kWrite: the discrete value; kAt: ms; kFaults: answers
  sim::Faults faults{};           // kFaults
};
inline Op ReadOf(const char* address) { return {Op::kRead, address}; }
inline Op WriteOf(const char* address, int64_t bit) { return {Op::kWrite, address, bit}; }
// Lets the clock run to ms after the start. The refresh gates count whole
// seconds, so calls behind a gate are made at the same moments in both
// modes, as a host polling on a schedule makes them; the early mode's
// shorter exchanges would otherwise shift the gates' phase.
inline Op At(int64_t ms) { return {Op::kAt, nullptr, ms}; }
// The module's next `answers` answers get faults (-1: until changed).
inline Op FaultsOf(const sim::Faults& faults, int64_t answers = -1) {
  return {Op::kFaults, nullptr, answers, faults};
}

// What one read or write returned, and the virtual time it took.
struct Step {
  int32_t result = 0;
  int32_t code = 0;
  uint32_t discrete = 0;
  uint32_t analogBits = 0;  // the float's bits: NaN and -0 compare exactly
  int64_t ms = 0;
  bool operator==(const Step&) const = default;
};

struct Played {
  std::vector<Step> steps;     // one per read or write
  std::vector<uint8_t> bytes;  // everything written to the line
};

inline std::string Describe(const Step& s) {
  char text[96];
  std::snprintf(text, sizeof text, "result %d code %d discrete %u analog %08x in %lld ms", s.result,
                s.code, s.discrete, s.analogBits, static_cast<long long>(s.ms));
  return text;
}

// The same step without its time: what must not depend on the mode.
inline Step Untimed(Step s) {
  s.ms = 0;
  return s;
}

template <class Driver, class Module>
class Rig {
 public:
  // timeoutText: the number; ",early" is appended in early mode.
  Rig(bool early, const char* timeoutText, int address) : serial_(kEarlyStartMs) {
    module_ = &bus_.Emplace<Module>(address);
    line().SetPeer(bus_.Peer());
    host_.SetTimeout(std::string(timeoutText) + (early ? ",early" : ""));
    driver_ = std::make_unique<Driver>();
    opened_ = driver_->OpenPort(&host_.config);
  }
  ~Rig() { driver_->ClosePort(); }

  Module& module() { return *module_; }
  FakeLine& line() { return serial_.line(1); }
  FakeClock& clock() { return serial_.clock(); }
  int32_t opened() const { return opened_; }

  Played Play(std::span<const Op> ops) {
    Played played;
    for (const Op& op : ops) {
      switch (op.kind) {
        case Op::kAt: {
          const int64_t target = kEarlyStartMs + op.number;
          EXPECT_LE(clock().NowMs(), target) << "the calls before ran past " << op.number;
          if (clock().NowMs() < target) clock().Advance(target - clock().NowMs());
          break;
        }
        case Op::kFaults:
          module_->SetFaults(op.faults, static_cast<int>(op.number));
          break;
        case Op::kRead:
        case Op::kWrite:
          played.steps.push_back(Call(op));
          break;
      }
    }
    played.bytes = line().written();
    return played;
  }

 private:
  Step Call(const Op& op) {
    IoItem item{};
    const bool discrete = std::toupper(static_cast<unsigned char>(op.address[0])) == 'D';
    item.DataType = discrete ? kDataTypeDiscrete : kDataTypeFloat;
    driver_->ParseItem(op.address, &item);
    IoValue value{};
    value.DiscreteValue = op.kind == Op::kWrite ? static_cast<uint32_t>(op.number) : 0xDEADu;
    value.AnalogValue = -999.0f;
    const int64_t before = clock().NowMs();
    Step step;
    step.result = op.kind == Op::kWrite ? driver_->WriteItem(&item, &value)
                                        : driver_->ReadItem(&item, &value);
    step.ms = clock().NowMs() - before;
    step.code = driver_->ErrorCode();
    step.discrete = value.DiscreteValue;
    std::memcpy(&step.analogBits, &value.AnalogValue, sizeof step.analogBits);
    return step;
  }

  FakeSerial serial_;
  sim::Bus bus_;
  Module* module_ = nullptr;
  HostPort host_;
  std::unique_ptr<Driver> driver_;
  int32_t opened_ = 0;
};

}  // namespace tarvo::test
