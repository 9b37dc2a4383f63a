// Registration of the driver classes with the platform.
#pragma once

#include "tarvo/com.h"

namespace tarvo {

// Writes every class's registry entries. S_OK, or SELFREG_E_CLASS when a
// write failed. Where the platform has no registry there is nothing to write.
HRESULT RegisterServer();
// Removes exactly what RegisterServer wrote.
HRESULT UnregisterServer();

}  // namespace tarvo
