// Registration of the driver classes with the platform.
#pragma once

#include "tarvo/com.h"

namespace tarvo {

// Writes every class's registry entries: S_OK, or SELFREG_E_CLASS when a
// write failed. A class that could not be written completely is removed
// again; the other classes stay registered. Where the platform has no
// registry there is nothing to write.
HRESULT RegisterServer() noexcept;
// Removes exactly the values RegisterServer writes, and the keys it created
// once they are empty: S_OK, or SELFREG_E_CLASS when something written could
// not be removed. Entries already gone are not a failure.
HRESULT UnregisterServer() noexcept;

}  // namespace tarvo
