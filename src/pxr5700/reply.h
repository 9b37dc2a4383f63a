// Where a module's replies carry their data. Byte 0 tells the reply's kind:
// ">" answers a read, "!" a write. The two address digits that follow and
// the bytes not listed here are not examined.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvo::pxr5700 {

inline constexpr uint8_t kReadReplyHead = '>';
inline constexpr uint8_t kWriteReplyHead = '!';

// DI and DO replies, and the echo of a write: the eight bits, bit i for
// channel i.
inline constexpr size_t kBitsAt = 3;
// TA and TB replies: the 4-byte readings of channels 1 and 2.
inline constexpr size_t kTemperatureAt[2] = {5, 9};
// WI replies: the 5-character texts of channels 1 and 2.
inline constexpr size_t kNumericAt[2] = {5, 11};

// The fewest bytes a reply to a read of register index must have to carry
// all the data taken from it.
inline constexpr size_t kReadReplyLength[5] = {kBitsAt + 1, kBitsAt + 1, kTemperatureAt[1] + 4,
                                               kTemperatureAt[1] + 4, kNumericAt[1] + 5};
inline constexpr size_t kWriteReplyLength = kBitsAt + 1;
// A whole reply: those bytes and the CR that ends every reply. An early-reply
// read waits for the CR too, so that it cannot arrive after the next
// command's purge and head that command's reply.
inline constexpr size_t kReplyEndBytes = 1;

// Every reply fits; a longer one is cut here, its rest discarded before the
// next command.
inline constexpr size_t kReplyBufferSize = 300;

}  // namespace tarvo::pxr5700
