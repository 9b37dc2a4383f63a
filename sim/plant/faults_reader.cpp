#include "sim/plant/faults_reader.h"

#include <limits>

#include "sim/module.h"

namespace tarvo::sim {
namespace {

constexpr int64_t kMaxBytes = 4096;     // of padding or noise
constexpr int64_t kMaxDelayMs = 60000;  // a minute

}  // namespace

FaultSetting ReadFaults(const PlantNode& node) {
  node.CheckKeys({"silent", "head", "swap_address_case", "from_address", "truncate_to",
                  "drop_final_cr", "padding", "pad_byte", "noise", "noise_replaces_answer",
                  "noise_byte", "noise_seed", "delay_ms", "pieces", "gap_ms", "extra_point",
                  "point_twice", "answers"});
  FaultSetting setting;
  Faults& f = setting.faults;
  if (auto v = node.Find("silent")) f.silent = v->Boolean();
  if (auto v = node.Find("head")) f.head = v->Byte();
  if (auto v = node.Find("swap_address_case")) f.swapAddressCase = v->Boolean();
  if (auto v = node.Find("from_address")) f.fromAddress = static_cast<int>(v->Integer(0, 255));
  if (auto v = node.Find("truncate_to"))
    f.truncateTo = static_cast<size_t>(v->Integer(0, kMaxBytes));
  if (auto v = node.Find("drop_final_cr")) f.dropFinalCr = v->Boolean();
  if (auto v = node.Find("padding")) f.padding = static_cast<size_t>(v->Integer(0, kMaxBytes));
  if (auto v = node.Find("pad_byte")) f.padByte = v->Byte();
  if (auto v = node.Find("noise")) f.noise.count = static_cast<size_t>(v->Integer(0, kMaxBytes));
  if (auto v = node.Find("noise_replaces_answer")) f.noise.replaceAnswer = v->Boolean();
  if (auto v = node.Find("noise_byte")) f.noise.fixed = v->Byte();
  if (auto v = node.Find("noise_seed"))
    f.noise.seed = static_cast<uint32_t>(v->Integer(0, std::numeric_limits<uint32_t>::max()));
  if (auto v = node.Find("delay_ms")) f.delayMs = v->Integer(0, kMaxDelayMs);
  if (auto v = node.Find("pieces")) f.pieces = static_cast<int>(v->Integer(1, kMaxBytes));
  if (auto v = node.Find("gap_ms")) f.gapMs = v->Integer(0, kMaxDelayMs);
  if (auto v = node.Find("extra_point")) f.extraPoint = v->Byte();
  if (auto v = node.Find("point_twice")) f.pointTwice = v->Boolean();
  if (auto v = node.Find("answers"))
    setting.answers = static_cast<int>(v->Integer(1, std::numeric_limits<int>::max()));
  else
    setting.answers = Module::kUntilCleared;
  return setting;
}

}  // namespace tarvo::sim
