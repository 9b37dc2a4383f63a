// The exchanges the module families share: a command, the wait for its
// answer and the answer's head check. Every command ends in CR; an answer
// is recognised by its first bytes (a lead character and the two address
// digits), never by its length. The lengths the rules below name only let
// an early-reply port stop waiting once an answer is whole.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "driver/driver_base.h"
#include "serial/port.h"

namespace tarvo {

inline constexpr uint8_t kCarriageReturn = 0x0D;
inline constexpr int32_t kCommandWriteTimeoutMs = 30;
inline constexpr int32_t kEmptyReadPauseMs = 500;
inline constexpr int kAnswerAttempts = 3;

// Answer lengths, as rules an early-reply read can use. Every rule first
// checks the answer's head, as far as it has arrived, against the expected
// bytes (at most 4 are used, copied): an answer with another head will
// never be the whole answer expected.

// An answer of a fixed length that starts with head.
serial::ReplyRule FixedReply(std::span<const uint8_t> head, size_t length);
// A block-read answer: head, two bytes not examined, then `records` 4-byte
// records from byte 5 on, and no end byte.
inline constexpr size_t kFirstRecord = 5;
inline constexpr size_t kRecordBytes = 4;
serial::ReplyRule RecordsReply(std::span<const uint8_t> head, size_t records);
// A point list: head, one byte, the count n at byte 4, n point numbers and
// the CR at byte 5 + n (6 + n bytes). The CR is waited for also when n is 0:
// a module that leaves it off then takes the full time-out, but a CR still
// on its way when the next command is sent would head that command's answer.
serial::ReplyRule PointListReply(std::span<const uint8_t> head);

// One block-read or write exchange.
struct Exchange {
  std::span<const uint8_t> command;
  std::span<const uint8_t> head;  // the answer's expected first bytes
  serial::ReplyRule whole;        // when an early-reply answer is whole
  // Extra wait before each read, on top of the read's own (0 where the
  // family has none).
  int32_t settleMs;
  const char* sendLabel;     // trace label of the command
  const char* receiveLabel;  // trace label of each read
};

enum class ExchangeOutcome {
  kAnswered,     // an answer with the expected head; *count bytes arrived
  kLineError,    // the line's error state could not be cleared: nothing sent
  kWriteFailed,  // the command, or its repetition, could not be written
  kReadFailed,   // the line refused a read
  kWrongAnswer,  // no answer in three reads, or one with another head
};

// Purges the line, clears its error state, writes the command (30 ms write
// time-out) and runs the answer loop with the port's time-out: up to three
// reads, each clearing buffer (capacity bytes) first, so positions past the
// answer read as zeros; an empty read is followed by a 500 ms pause and,
// unless it was the third, the command again. Every command and read goes
// to the trace handler. Never touches bytes outside buffer.
ExchangeOutcome RunExchange(serial::Port& port, const Exchange& exchange, uint8_t* buffer,
                            size_t capacity, uint32_t* count);

// RunExchange for a block read: false with the driver's code stored unless
// answered: 16 (line error, command not written), 17 (read refused), 22 (no
// answer or a wrong one, after a pause of wrongAnswerPauseMs that lets the
// line fall quiet).
bool BlockReadExchange(DriverBase& driver, const Exchange& exchange, uint32_t wrongAnswerPauseMs,
                       uint8_t* buffer, size_t capacity, uint32_t* count);

// One question of a module scan: traces and sends command with timeoutMs,
// clears buffer, waits timeoutMs on top of the read's own timeoutMs and
// reads what came (at most capacity bytes); an early-reply port stops
// waiting once whole says the answer is complete. False when the line
// refused the write or the read.
bool AskModule(serial::Port& port, std::span<const uint8_t> command, const serial::ReplyRule& whole,
               int32_t timeoutMs, uint8_t* buffer, size_t capacity, uint32_t* count);

// The point-list answer ">" mm, one byte, the count n at byte 4, n point
// numbers from byte 5 and a CR at byte 5 + n (required when n is not 0).
inline constexpr size_t kPointListStart = 5;
inline constexpr size_t kPointListBufferBytes = 600;
// The numbers listed in a zero-filled receive buffer of at least 261 bytes,
// or false when n is not 0 and byte 5 + n is not CR.
bool ListedPoints(std::span<const uint8_t> answer, std::span<const uint8_t>* listed);

// What the scan does when a channel after channel 0 gives no answer with
// the module's head.
enum class SilentChannel {
  kFails,        // the scan fails
  kEndsTheScan,  // the module has no further channels: success
};

// Asks each channel 0..channels-1 of a module for its point list with
// "*" mm c CR, timeoutMs per question, and hands each valid list to take.
// False as soon as a question fails on the line, an answer ends before its
// count or lacks its CR, or a channel gives no answer with the head (channel
// 0 always; later channels as silent says). Lists taken before a failure
// stay taken.
bool ScanPointLists(serial::Port& port, std::array<uint8_t, 2> digits, int channels,
                    int32_t timeoutMs, SilentChannel silent,
                    const std::function<void(int channel, std::span<const uint8_t>)>& take);

}  // namespace tarvo
