// Registration where the platform has no registry: nothing to write.
#include "server/registration.h"

namespace tarvo {

HRESULT RegisterServer() noexcept { return S_OK; }
HRESULT UnregisterServer() noexcept { return S_OK; }

}  // namespace tarvo
