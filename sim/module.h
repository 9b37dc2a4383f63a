// A simulated module: one address on a bus, the commands of its family, and
// switchable faults. A family derives from Module, frames its commands and
// builds its healthy answers; the base applies the faults, so every family
// gets them alike.
//
// Adding a family: derive, implement family(), FrameCommand (usually with
// FrameAddressed and the family's command shapes) and Answer; override
// addressForm() when the answer does not carry the address digits at bytes
// 1 and 2 or writes them in upper case. A module that receives a command
// addressed to it but malformed (a channel it lacks) stays silent: Answer
// returns no bytes.
//
// Not synchronised: a bus served from another thread must be held while its
// modules are changed (Bus::Hold).
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <string_view>

#include "sim/bytes.h"
#include "sim/chunk.h"
#include "sim/faults.h"
#include "sim/framing.h"

namespace tarvo::sim {

class Module {
 public:
  // Fault switches stay on for this many answers when given no count.
  static constexpr int kUntilCleared = -1;
  // No family's command is longer; a bus stops waiting for more bytes here.
  static constexpr size_t kMaxCommandLength = 16;

  // address: 0..255 (two hex digits); throws std::out_of_range otherwise.
  explicit Module(int address);
  virtual ~Module() = default;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  int address() const { return address_; }
  virtual std::string_view family() const = 0;

  // Whether the bytes at the head of the bus input are a command addressed
  // to this module. Must be kComplete or kNotMine once `head` holds
  // kMaxCommandLength bytes.
  virtual Frame FrameCommand(std::span<const uint8_t> head) const = 0;

  // The answer to one complete command, faults applied, as chunks due after
  // the command's last byte arrived at `nowMs`. Counts one answer against
  // faults given for a number of answers, a silent one included.
  std::vector<Chunk> Respond(std::span<const uint8_t> command, int64_t nowMs);

  // Switches the faults on for the next `answers` answers (kUntilCleared:
  // until ClearFaults or the next SetFaults), replacing any set before.
  void SetFaults(const Faults& faults, int answers = kUntilCleared);
  void ClearFaults();
  // The faults the next answer gets (all off when none are set).
  const Faults& faults() const;

 protected:
  // The healthy answer to one complete command framed by FrameCommand; no
  // bytes when the module does not answer it. `faults` are those of this
  // answer, for the family-specific switches (point lists).
  virtual Bytes Answer(std::span<const uint8_t> command, const Faults& faults, int64_t nowMs) = 0;
  virtual AddressForm addressForm() const { return {}; }

 private:
  int address_;
  Faults faults_;
  int answersLeft_ = 0;  // 0: no faults; kUntilCleared: until cleared
  std::mt19937 rng_;
};

}  // namespace tarvo::sim
