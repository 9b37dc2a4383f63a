// Reads a module's fault switches from a plant description (the module's
// "faults" object, or what pxrsim's --fault option spells out):
//   silent                 true: no answer at all
//   head                   byte 0 of the answer replaced by this byte
//   swap_address_case      true: hex letters of the address in the other case
//   from_address           answer with the address digits of this address
//   truncate_to            only the first this many bytes of the answer
//   drop_final_cr          true: a CR that ends the answer left off
//   padding, pad_byte      this many bytes (default 0x55) appended
//   noise                  this many noise bytes before the answer
//   noise_replaces_answer  true: the noise instead of the answer
//   noise_byte             every noise byte this byte (default: random)
//   noise_seed             seed of the random noise
//   delay_ms               extra time before the first byte
//   pieces, gap_ms         the answer cut into pieces, gap_ms apart
//   extra_point            this point number appended to a scan's list
//   point_twice            true: a scan lists its first point twice
//   answers                the switches hold for this many answers
//                          (default: as long as the simulator runs)
// A byte is a whole number 0..255 or a text of one ASCII character.
#pragma once

#include <string_view>

#include "sim/faults.h"
#include "sim/plant/plant_names.h"

namespace tarvo::sim {

struct FaultSetting {
  Faults faults;
  int answers = -1;  // Module::kUntilCleared
};

// Throws PlantValueError for an unknown switch or a value out of range.
FaultSetting ReadFaults(const PlantNode& node);

// The switches that are on or off (true or false in a plant file).
inline constexpr std::string_view kOnOffFaultSwitches[] = {
    "silent", "swap_address_case", "drop_final_cr", "noise_replaces_answer", "point_twice"};

}  // namespace tarvo::sim
