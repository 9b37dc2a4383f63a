// --list: a driver class's register table as the object hands it out, and
// how its items are addressed.
#pragma once

#include <string>

#include "tarvo/records.h"
#include "tools/plant/driver_classes.h"

namespace tarvo::tools {

std::string FormatRegisterList(const DriverClass& driverClass, const RegisterDesc* table,
                               int16_t count);

}  // namespace tarvo::tools
