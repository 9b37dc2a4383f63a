#include "server/server_classes.h"

#include "driver/com_driver.h"
#include "pxr5100/pxr5100.h"
#include "pxr530x/pxr5303.h"
#include "pxr530x/pxr530x.h"
#include "pxr5700/pxr5700.h"
#include "pxr5760/pxr5760.h"
#include "tarvo/guids.h"

namespace tarvo {
namespace {

const ServerClass kClasses[] = {
    {&CLSID_Cpxr5100, "Tarvo.pxr5100", "Cpxr5100", &ComDriver<Cpxr5100>::Create},
    {&CLSID_CPxr5303, "Tarvo.CPxr5303", "CPxr5303", &ComDriver<CPxr5303>::Create},
    {&CLSID_CPxr530x, "Tarvo.Pxr530x", "CPxr530x", &ComDriver<CPxr530x>::Create},
    {&CLSID_Cpxr5700, "Tarvo.pxr5700", "Cpxr5700", &ComDriver<Cpxr5700>::Create},
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
