#include "server/server_classes.h"

#include "driver/com_driver.h"
#include "pxr5100/pxr5100.h"
#include "pxr5700/pxr5700.h"
#include "tarvo/guids.h"

namespace tarvo {
namespace {

const ServerClass kClasses[] = {
    {&CLSID_Cpxr5100, "Tarvo.pxr5100", "Cpxr5100", &ComDriver<Cpxr5100>::Create},
    {&CLSID_Cpxr5700, "Tarvo.pxr5700", "Cpxr5700", &ComDriver<Cpxr5700>::Create},
};

}  // namespace

std::span<const ServerClass> ServerClasses() { return kClasses; }

const ServerClass* FindServerClass(REFCLSID clsid) {
  for (const ServerClass& entry : kClasses)
    if (*entry.clsid == clsid) return &entry;
  return nullptr;
}

}  // namespace tarvo
