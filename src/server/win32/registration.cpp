// Registry entries of the driver classes (written by regsvr32).
#include "server/registration.h"

namespace tarvo {

// The registry writer is not built yet; nothing is written.
HRESULT RegisterServer() { return S_OK; }
HRESULT UnregisterServer() { return S_OK; }

}  // namespace tarvo
