#include "server/server_classes.h"

#include "driver/com_driver.h"
#include "pxr5100/pxr5100.h"
#include "pxr5760/pxr5760.h"
#include "tarvo/guids.h"

namespace tarvo {
namespace {

const ServerClass kClasses[] = {
    {&CLSID_Cpxr5100, "Tarvo.pxr5100", "Cpxr5100", &ComDriver<Cpxr5100>::Create},
    {&CLSID_CPxr5760, "Tarvo.Pxr5760", "CPxr5760", &ComDriver<CPxr5760>::Create},
};

}  // namespace

std::span<const ServerClass> ServerClasses() { return kClasses; }

const ServerClass* FindServerClass(REFCLSID clsid) {
  for (const ServerClass& entry : kClasses)
    if (*entry.clsid == clsid) return &entry;
  return nullptr;
}

}  // namespace tarvo
