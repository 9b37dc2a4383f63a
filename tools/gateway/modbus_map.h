// The gateway's plant as a Modbus TCP server shows it: one unit identifier
// per line, and in each unit a register map that SCADA engineers can type
// in. Per unit:
//   input register 0            the line's state: 1 open, 0 down (or not yet opened)
//   input registers N, N+1      the item's value, IEEE float32 in the word order
//                               chosen (DI and DO items 0.0 or 1.0); NaN while the
//                               item has no value or its latest read failed
//   input register N+2          its status: 0 for a fresh value, else the driver's
//                               code; 65535 before the first read or for an error
//                               that has no code
//   input register N+3          its age: whole seconds since the value was read
//                               (65535 at most, and before the first read)
//   discrete input N            a DI item's value
//   coil N                      a DO item's value, written with functions 5 and 15
// N is the item's "modbus" register in the plant file, or else the first
// free block of four from 1 up, in plant-file order. Addresses are the
// protocol's, from 0 (mbpoll -0).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tools/plant/plant_node.h"

namespace tarvo::tools {

struct GatewayLine;

enum class WordOrder { kABCD, kCDAB };

enum class ModbusKind { kAnalogue, kDiscreteInput, kCoil };

struct ModbusItem {
  size_t index;      // the line poller's number of the item
  uint16_t address;  // N
  ModbusKind kind;
  std::string item;  // its address as given: "TA1.0.0"
  std::string name;
  std::string unit;
};

struct ModbusUnit {
  std::string line;
  uint8_t id;
  std::vector<ModbusItem> items;  // in plant-file order
};

struct ModbusSettings {
  bool enabled = false;  // a "modbus" section or --modbus
  std::string address = "127.0.0.1";
  int port = 1502;  // 0: any free port (the log names it)
  WordOrder wordOrder = WordOrder::kABCD;
  std::vector<ModbusUnit> units;  // one per line, in the plant's order
  // Without a "modbus" section: why some items have no registers (a line
  // with more items than registers), or empty.
  std::string unmapped;
};

// Registers an item takes from N.
inline constexpr int kItemRegisters = 4;

// The "modbus" section, e.g. {"port": 1502, "word_order": "CDAB",
// "units": {"boiler": 1}}, or true; `modbus` is null when there is none.
// Lines without a unit in "units" take 1, 2, ... in the plant's order,
// skipping those given. Reads each item's "modbus" register from `lines`
// (the plant's "lines" node) too. Throws, naming the position of the
// mistake, like every read of a plant document. Without `mapWanted` the
// map of a plant that does not turn Modbus on is not made (its registers
// are checked all the same): a full line's is megabytes.
ModbusSettings ReadModbusSettings(const std::optional<plant::PlantNode>& modbus,
                                  const plant::PlantNode& lines,
                                  const std::vector<GatewayLine>& plantLines,
                                  bool mapWanted = true);

// The map as CSV: line, unit_id, item, name, unit, function, address,
// type, word_order; a row per register and bit.
std::string ModbusMapCsv(const ModbusSettings& settings);

// A float32 as two registers in the word order.
void PutFloat(float value, WordOrder order, uint16_t* words);

const char* WordOrderName(WordOrder order);

}  // namespace tarvo::tools
