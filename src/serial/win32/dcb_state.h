// A LineState read from, and written into, a Windows DCB.
#pragma once

#include <windows.h>

#include "serial/device.h"

namespace tarvo::serial {

LineState StateOf(const DCB& dcb);
// Writes into dcb only the fields in which state differs from StateOf(dcb),
// so that every member state does not change keeps its value.
void Overlay(const LineState& state, DCB* dcb);

}  // namespace tarvo::serial
