// How the answers of a module scan and of a block read land in a module's
// tables. Point numbers and record positions come from the module and are
// never trusted: a number outside the channel's points marks nothing, and a
// position outside the answer reads as zero bytes.
#pragma once

#include <cstdint>
#include <span>

#include "pxr530x/tables.h"

namespace tarvo::pxr530x {

// First byte of the point numbers in a point-list answer
// (">" AA, one unexamined byte, the count n, n point numbers, CR).
inline constexpr size_t kPointListStart = 5;
// First byte of the records in a block answer (">" AA, two unexamined bytes).
inline constexpr size_t kFirstRecord = 5;
inline constexpr size_t kRecordBytes = 4;

// Marks point of channel present; numbers outside 0..points-1 mark nothing.
void MarkPoint(ModuleState& state, int channel, int point);

// Takes the point-list answer of channel (answer: the whole zero-filled
// receive buffer, at least 261 bytes). Returns the count n, or -1 when n is
// not 0 and byte 5 + n is not CR (nothing changed then). Otherwise the
// listed points replace the channel's present flags: the channel is cleared
// first, then every listed point in range is marked.
int ApplyPointList(ModuleState& state, int channel, std::span<const uint8_t> answer);

// Copies the records of a block answer (the whole zero-filled receive
// buffer) into the present points and marks all their register kinds
// fresh. Channel c's records start after the records the earlier channels'
// sensorCount values give; within a channel they go to the present points
// in ascending order, at most sensorCount of them, so a channel never takes
// another's records. Positions beyond answer read as zero bytes. Points
// that get no record keep their record and flags.
void DistributeRecords(ModuleState& state, std::span<const uint8_t> answer);

}  // namespace tarvo::pxr530x
