// The server's lock count: one per live driver object plus one per
// IClassFactory::LockServer(TRUE). DllCanUnloadNow answers S_OK only at 0.
#pragma once

namespace tarvo {

void LockServer();
void UnlockServer();
bool ServerLocked();

}  // namespace tarvo
