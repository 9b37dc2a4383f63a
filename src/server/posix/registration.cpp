// Registration where the platform has no registry: nothing to write.
#include "server/registration.h"

namespace tarvo {

HRESULT RegisterServer() { return S_OK; }
HRESULT UnregisterServer() { return S_OK; }

}  // namespace tarvo
