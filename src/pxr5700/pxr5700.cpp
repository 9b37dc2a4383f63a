#include "pxr5700/pxr5700.h"

namespace tarvo {

Cpxr5700::Cpxr5700()
    : DriverBase({{"DI", kAccessRead, kDataTypeDiscrete},
                  {"DO", kAccessReadWrite, kDataTypeDiscrete},
                  {"TA", kAccessRead, kDataTypeFloat},
                  {"TB", kAccessRead, kDataTypeFloat},
                  {"WI", kAccessRead, kDataTypeFloat}}) {
  Port().SetTimeout(kInitialTimeoutMs);
  pxr5700::SharedTables().Reset();
}

}  // namespace tarvo
