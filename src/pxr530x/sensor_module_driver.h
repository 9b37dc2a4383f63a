// The driver shared by the sensor-module classes CPxr5303 and CPxr530x.
// Both offer the registers TA, TB, WA and WB (indices 1..4), each one
// float per sensor point, and read them the same way: scan a module once
// to learn its points, fetch the 4-byte records of all its points with one
// block read, and hand each register kind of each record out once, through
// the kind's conversion and outlier filter. What differs is given by the
// class's ClassTraits; each class keeps its own process-wide Tables.
#pragma once

#include <cstdint>

#include "driver/driver_base.h"
#include "pxr530x/class_traits.h"
#include "pxr530x/command.h"
#include "pxr530x/tables.h"
#include "serial/reply_rule.h"
#include "tarvo/records.h"

namespace tarvo::pxr530x {

class SensorModuleDriver : public DriverBase {
 public:
  // Address "RRm.c.p": register TA, TB, WA or WB (any case), module 0..127
  // (the first three digits), the class's channel and point.
  int32_t ParseItem(const char* address, IoItem* item);

  // Delivers the filtered value of one register of one point into
  // value->AnalogValue; nothing else of *value is written, and nothing at
  // all on failure. An item outside the class's ranges is refused (codes
  // 18, 19, 20) before anything is sent. A module not yet scanned is
  // scanned first (failure: code 24, scanned again at the next read). A
  // register whose value from the latest block read was already delivered
  // needs a new block read, paced by the class: behind the refresh gate
  // (code 23 while closed) or after a 10000 ms wait. Block-read failures:
  // code 16 (line error or command not written), 17 (read refused), 22
  // (wrong answer, after a 2000 ms wait). Code 22 also when the point got
  // no record or the record is rejected by the kind's conversion.
  int32_t ReadItem(IoItem* item, IoValue* value);

  // The registers are read-only: stores ErrOk and returns 1, sends nothing.
  int32_t WriteItem(IoItem* item, IoValue* value);

 protected:
  // Fills the register table and resets the class's tables: every module
  // is scanned again, filters start afresh, and each module's refresh gate
  // counts from now.
  SensorModuleDriver(const ClassTraits& traits, Tables& tables);

 private:
  // Learns the module's points; false (no code stored) when it failed.
  // What was learned before a failure stays.
  bool ScanModule(ModuleState& state, uint8_t module, int32_t timeoutMs);
  bool ScanSummary(ModuleState& state, uint8_t module, int32_t timeoutMs);
  bool ScanPerChannel(ModuleState& state, uint8_t module, int32_t timeoutMs);
  // One scan question: sends command with timeoutMs, clears buffer, waits
  // timeoutMs and reads what came (at most capacity bytes); an early-reply
  // port stops waiting once whole says the answer is complete. False when
  // the line refused the write or the read.
  bool Ask(const Command& command, const serial::ReplyRule& whole, int32_t timeoutMs,
           uint8_t* buffer, size_t capacity, uint32_t* count);
  // The class's condition for a block read; false with the code stored.
  bool PaceBlockRead(ModuleState& state);
  // "#" AA "8" and the distribution of its records; false with the code
  // stored, the tables untouched.
  bool BlockRead(ModuleState& state, uint8_t module);
  // Hands out the fresh record of register index kind (1..4).
  int32_t Deliver(PointState& point, int kind, IoValue* value);

  const ClassTraits& traits_;
  Tables& tables_;
};

}  // namespace tarvo::pxr530x
