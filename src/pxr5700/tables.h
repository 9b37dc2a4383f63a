// What the pxr5700 driver holds of each module: the last inputs, outputs,
// temperature readings and numeric texts the module sent, each entry with a
// fresh flag that is set when a reply fills it and cleared when a read
// delivers it, so that every value received is handed out once. The outputs
// double as the memory of the states the driver last read or wrote.
//
// One set per process, shared by every Cpxr5700 object and cleared by each
// constructor. A module's state is allocated when it is first stored into.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

namespace tarvo::pxr5700 {

inline constexpr int kModules = 128;
inline constexpr int kBits = 8;            // inputs and outputs: channels 0..7
inline constexpr int kAnalogChannels = 2;  // temperature and numeric: channels 1 and 2
inline constexpr size_t kNumericTextLength = 5;

template <class Data>
struct Entry {
  bool fresh = false;
  Data data{};
};

// b0..b3 of a temperature reading, in the order received.
using RawReading = std::array<uint8_t, 4>;
// Five characters of decimal text as the module sent them (any bytes).
using NumericText = std::array<char, kNumericTextLength>;

struct ModuleState {
  std::array<Entry<uint32_t>, kBits> inputs{};
  std::array<Entry<uint32_t>, kBits> outputs{};  // the value last read or written
  // Indexed by channel - 1.
  std::array<Entry<RawReading>, kAnalogChannels> temperatures{};
  std::array<Entry<NumericText>, kAnalogChannels> numerics{};
};

class Tables {
 public:
  // Forgets every module.
  void Reset();
  // The state of module (0..127), or null when nothing was stored for it.
  ModuleState* Find(int module);
  // The state of module (0..127), allocated on first use.
  ModuleState& Module(int module);

 private:
  std::array<std::unique_ptr<ModuleState>, kModules> modules_;
};

// The process-wide tables of the class.
Tables& SharedTables();

}  // namespace tarvo::pxr5700
