#include "pxr5100/pxr5100.h"

namespace tarvo {

// Reading needs the module's sensor discovery, which needs an open line.
int32_t Cpxr5100::ReadItem(IoItem*, IoValue*) { return Fail(ErrInitModule); }

}  // namespace tarvo
