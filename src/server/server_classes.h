// The driver classes the server offers, with their identities.
#pragma once

#include <span>

#include "tarvo/com.h"

namespace tarvo {

struct ServerClass {
  const CLSID* clsid;
  const char* progId;     // e.g. "Tarvo.pxr5100"
  const char* className;  // the run-time class name, e.g. "Cpxr5100"
  HRESULT (*create)(REFIID iid, void** object);
};

std::span<const ServerClass> ServerClasses();
// The class with this CLSID, or null.
const ServerClass* FindServerClass(REFCLSID clsid);

}  // namespace tarvo
