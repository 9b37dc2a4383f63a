#include "pxr5760/pxr5760.h"

#include "serial/clock.h"

namespace tarvo {

CPxr5760::CPxr5760()
    : DriverBase({{"TA", kAccessRead, kDataTypeFloat},
                  {"HB", kAccessRead, kDataTypeFloat},
                  {"KT", kAccessRead, kDataTypeFloat},
                  {"LT", kAccessRead, kDataTypeFloat},
                  {"DI", kAccessRead, kDataTypeDiscrete},
                  {"DO", kAccessReadWrite, kDataTypeDiscrete},
                  {"AD", kAccessRead, kDataTypeFloat}}) {
  pxr5760::SharedTables().Reset(serial::CurrentClock().NowSeconds());
}

}  // namespace tarvo
