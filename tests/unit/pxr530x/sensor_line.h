// A sensor-module driver object on a fake line whose far end is a
// simulated bus (or a scripted peer), with the fake clock installed. Time
// starts at 1000 s, so the driver's refresh gates start at 1000.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "sim/bus.h"
#include "support/fake_serial.h"
#include "support/host_port.h"
#include "tarvo/records.h"

namespace tarvo::test {

inline constexpr int64_t kStartMs = 1'000'000;

// Answers each command found in the map with its answer text; other
// commands get nothing. Commands are framed at 5 bytes.
class ScriptedPeer {
 public:
  void Answer(const std::string& command, const std::string& answer) { answers_[command] = answer; }
  void Forget(const std::string& command) { answers_.erase(command); }
  sim::PeerFunction Peer() {
    return [this](const uint8_t* bytes, size_t count, int64_t) {
      std::vector<sim::Chunk> chunks;
      pending_.append(reinterpret_cast<const char*>(bytes), count);
      while (pending_.size() >= 5) {
        const auto it = answers_.find(pending_.substr(0, 5));
        if (it != answers_.end())
          chunks.push_back({0, std::vector<uint8_t>(it->second.begin(), it->second.end())});
        pending_.erase(0, 5);
      }
      return chunks;
    };
  }

 private:
  std::map<std::string, std::string> answers_;
  std::string pending_;
};

template <class Driver>
class SensorLine {
 public:
  SensorLine() : serial_(kStartMs) {
    line().SetPeer(bus.Peer());
    driver_ = std::make_unique<Driver>();
    EXPECT_EQ(driver_->OpenPort(&host_.config), 1);
  }
  ~SensorLine() { driver_->ClosePort(); }

  Driver& driver() { return *driver_; }
  // A new object of the class on the same line: resets the class's tables.
  void Recreate() {
    driver_->ClosePort();
    driver_ = std::make_unique<Driver>();
    host_.config.SharedHandle = nullptr;
    EXPECT_EQ(driver_->OpenPort(&host_.config), 1);
  }
  FakeLine& line() { return serial_.line(1); }
  FakeClock& clock() { return serial_.clock(); }
  // Virtual ms since the start.
  int64_t Elapsed() { return clock().NowMs() - kStartMs; }

  // Parses address (which must parse) and reads it. *code receives the
  // stored error code; value->AnalogValue starts at -999 unless given.
  int32_t Read(const char* address, float* value, DriverError* code = nullptr) {
    IoItem item{};
    item.DataType = kDataTypeFloat;
    EXPECT_EQ(driver_->ParseItem(address, &item), 1) << address;
    IoValue out{};
    out.AnalogValue = *value;
    const int32_t result = driver_->ReadItem(&item, &out);
    *value = out.AnalogValue;
    if (code != nullptr) *code = static_cast<DriverError>(driver_->ErrorCode());
    return result;
  }
  // The stored code after reading address; the value must stay untouched
  // when the read fails.
  DriverError ReadCode(const char* address) {
    float value = -999.0f;
    DriverError code = ErrOk;
    if (Read(address, &value, &code) == 0) {
      EXPECT_EQ(value, -999.0f) << address;
    }
    return code;
  }
  // The value read from address, expecting success.
  float Value(const char* address) {
    float value = -999.0f;
    DriverError code = ErrOk;
    EXPECT_EQ(Read(address, &value, &code), 1) << address << " code " << code;
    EXPECT_EQ(code, ErrOk);
    return value;
  }

  // Every write on the line so far, as texts; and those since a mark.
  std::vector<std::string> Writes(size_t from = 0) {
    std::vector<std::string> texts;
    const auto& writes = line().writes();
    for (size_t i = from; i < writes.size(); ++i)
      texts.emplace_back(writes[i].bytes.begin(), writes[i].bytes.end());
    return texts;
  }
  size_t WriteCount() { return line().writes().size(); }
  // Times of the writes since from, in ms since the start.
  std::vector<int64_t> WriteTimes(size_t from = 0) {
    std::vector<int64_t> times;
    const auto& writes = line().writes();
    for (size_t i = from; i < writes.size(); ++i) times.push_back(writes[i].atMs - kStartMs);
    return times;
  }

  sim::Bus bus;

 private:
  FakeSerial serial_;
  HostPort host_{1, "300"};
  std::unique_ptr<Driver> driver_;
};

}  // namespace tarvo::test
