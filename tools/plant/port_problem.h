// Why a serial device cannot be opened, from the device itself: the driver
// reports every such failure as code 10, which does not tell a missing
// adapter from a permission or a port in use.
#pragma once

#include <string>

namespace tarvo::tools {

// "/dev/ttyUSB0 does not exist ...", "permission denied ... dialout ...",
// "... is in use by another program"; empty when the device opens here.
std::string DescribeDeviceProblem(const std::string& path);

}  // namespace tarvo::tools
