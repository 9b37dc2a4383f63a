// The gateway's Modbus TCP server: every line a unit, its items in the
// registers of tools/gateway/modbus_map.h. One thread serves every client
// (up to kMaxModbusClients at once; a new one beyond closes the one idle
// longest), answering from the gateway's memory, never waiting on a line.
//
// Functions 1 (coils), 2 (discrete inputs), 4 (input registers), 5 and
// 15 (coils written); any other is answered with exception 01. An address
// outside the unit's map, or a range that holds one, gives exception 02;
// a unit identifier that is no line's, exception 0A. A down line's
// registers are answered (its state register 0, each item's status the
// reason); a coil write to it gives exception 04.
//
// A coil write is answered at once, when the line has taken it in: the
// module is switched before the line's next call, the coil reads the new
// value once the item has been read again, and the outcome is logged and
// published on the item's MQTT result topic like any write.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/gateway/modbus_map.h"
#include "tools/gateway/plant_status.h"

struct _modbus;  // libmodbus's context

namespace tarvo::tools {

inline constexpr size_t kMaxModbusClients = 32;

class ModbusServer {
 public:
  // Writes `value` to item `item` (the poller's number) of line `line`.
  using Write = std::function<void(size_t line, size_t item, uint32_t value)>;

  // statusFirst[l]: the PlantStatus number of line l's first item (its
  // items follow in the poller's order). The status must outlive the server.
  ModbusServer(ModbusSettings settings, const PlantStatus& status, std::vector<size_t> statusFirst,
               Write write);
  ~ModbusServer();
  ModbusServer(const ModbusServer&) = delete;
  ModbusServer& operator=(const ModbusServer&) = delete;

  // Listens and serves on a thread of its own. False, with *error, when
  // the address cannot be listened on.
  bool Start(std::string* error);
  // The port listened on (the one chosen for port 0).
  int port() const { return port_; }
  // Closes every connection and ends the thread.
  void Stop();

 private:
  struct Unit;
  struct Client;
  void Serve();
  // Answers one request (a whole frame); false when the answer cannot be sent.
  bool Answer(int socket, const uint8_t* request, int length);
  // The mapping's values of the addresses asked for, from unit.snapshot.
  void Fill(Unit& unit, bool up, int function, int first, int count);

  ModbusSettings settings_;
  const PlantStatus& status_;
  Write write_;
  std::vector<std::unique_ptr<Unit>> units_;
  ::_modbus* context_ = nullptr;  // builds the answers
  int listener_ = -1;
  int wake_[2] = {-1, -1};  // a pipe: Stop writes, Serve wakes
  int port_ = 0;
  std::thread thread_;
};

}  // namespace tarvo::tools
