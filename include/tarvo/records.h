// Records that cross the driver interface. The host owns and allocates them;
// their layout is the host's and is matched byte for byte. The offsets below
// are those of the 32-bit Windows hosts the records were laid out for; 64-bit
// builds widen only the pointer and the handle of PortConfig.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "tarvo/com.h"

#ifdef __cplusplus
namespace tarvo {
#endif

// Value types a host configures for an item and a register declares.
TARVO_CONST int16_t kDataTypeFloat = 128;
TARVO_CONST int16_t kDataTypeDiscrete = 1;

// Register access codes.
TARVO_CONST int32_t kAccessRead = 1;
TARVO_CONST int32_t kAccessReadWrite = 3;

// One configured item. ParseItem fills the register, module, channel, point
// and (pxr5760 only) sub-index fields; the host sets DataType; the drivers
// never touch the reserved bytes.
typedef struct IoItem {
  int16_t RegisterIndex;
  uint8_t Reserved0[2];
  int32_t ModuleAddress;
  int16_t Channel;
  int16_t Point;
  int16_t SubIndex;
  uint8_t Reserved1[10];
  int16_t DataType;
} IoItem;

// One item's value: ReadItem writes AnalogValue (float registers) or
// DiscreteValue (0 or 1); WriteItem reads DiscreteValue.
typedef struct IoValue {
  uint32_t DiscreteValue;
  uint8_t Reserved[24];
  float AnalogValue;
} IoValue;

// One entry of a driver's register table, owned by the driver object.
typedef struct RegisterDesc {
  char Name[40];
  int32_t Access;
  int32_t DataType1;
  int32_t DataType2;
} RegisterDesc;

// The host's line settings (see OpenPort).
typedef struct LineSettings {
  int16_t PortIndex;  // zero-based: port number = PortIndex + 1
  uint8_t Reserved0[2];
  uint32_t BaudCode;     // 0..14, index into the baud-rate table
  int16_t DataBitsCode;  // 0 = 7 bits, 1 = 8 bits
  int16_t StopBitsCode;  // 0 = 1 stop bit, 1 = 2 stop bits
  int16_t ParityCode;    // 0 odd, 1 even, 2 none, 3 mark, 4 space
  int16_t RtsDtrMode;    // copied into the driver object, no further effect
  uint32_t LineTimeout;  // ms, the constant part of the line's time-outs
} LineSettings;

// The host's port configuration. SharedHandle is 0 until the first object
// opens the line; OpenPort then publishes the line there, and later objects
// opened with the same record adopt it. The value is opaque to the host.
typedef struct PortConfig {
  LineSettings* Settings;
  uint32_t Reserved0;
  char TimeoutText[64];  // decimal ms, the transfer time-out
  HANDLE SharedHandle;
} PortConfig;

#ifdef __cplusplus
static_assert(offsetof(IoItem, RegisterIndex) == 0);
static_assert(offsetof(IoItem, ModuleAddress) == 4);
static_assert(offsetof(IoItem, Channel) == 8);
static_assert(offsetof(IoItem, Point) == 10);
static_assert(offsetof(IoItem, SubIndex) == 12);
static_assert(offsetof(IoItem, DataType) == 24);
static_assert(sizeof(IoItem) == 28);

static_assert(offsetof(IoValue, DiscreteValue) == 0);
static_assert(offsetof(IoValue, AnalogValue) == 28);
static_assert(sizeof(IoValue) == 32);

static_assert(offsetof(RegisterDesc, Name) == 0);
static_assert(offsetof(RegisterDesc, Access) == 40);
static_assert(offsetof(RegisterDesc, DataType1) == 44);
static_assert(offsetof(RegisterDesc, DataType2) == 48);
static_assert(sizeof(RegisterDesc) == 52);

static_assert(offsetof(LineSettings, PortIndex) == 0);
static_assert(offsetof(LineSettings, BaudCode) == 4);
static_assert(offsetof(LineSettings, DataBitsCode) == 8);
static_assert(offsetof(LineSettings, StopBitsCode) == 10);
static_assert(offsetof(LineSettings, ParityCode) == 12);
static_assert(offsetof(LineSettings, RtsDtrMode) == 14);
static_assert(offsetof(LineSettings, LineTimeout) == 16);
static_assert(sizeof(LineSettings) == 20);

static_assert(offsetof(PortConfig, Settings) == 0);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(PortConfig, Reserved0) == 4);
static_assert(offsetof(PortConfig, TimeoutText) == 8);
static_assert(offsetof(PortConfig, SharedHandle) == 72);
static_assert(sizeof(PortConfig) == 76);
#else
static_assert(offsetof(PortConfig, Reserved0) == 8);
static_assert(offsetof(PortConfig, TimeoutText) == 12);
static_assert(offsetof(PortConfig, SharedHandle) == 80);
static_assert(sizeof(PortConfig) == 88);
#endif
#endif  // __cplusplus

#ifdef __cplusplus
}  // namespace tarvo
#endif
