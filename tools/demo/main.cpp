// A first look at the library: load it as a host does, create a pxr5100
// driver, and parse a few item addresses, printing each result and the
// driver's error text (converted from GBK to UTF-8).
#include <dlfcn.h>
#include <iconv.h>

#include <cstdio>
#include <string>

#include "tarvo/tarvo.h"

namespace {

std::string Utf8(const char* gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return gbk;
  std::string in(gbk);
  std::string out(in.size() * 4 + 4, '\0');
  char* inPtr = in.data();
  char* outPtr = out.data();
  size_t inLeft = in.size();
  size_t outLeft = out.size();
  const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return gbk;
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "libtarvo.so";
  void* library = dlopen(path, RTLD_NOW);
  if (library == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return 1;
  }
  using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
  auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(library, "DllGetClassObject"));
  IClassFactory* factory = nullptr;
  if (getClassObject == nullptr || getClassObject(tarvo::CLSID_Cpxr5100, IID_IClassFactory,
                                                  reinterpret_cast<void**>(&factory)) != S_OK) {
    std::fprintf(stderr, "no class factory for Tarvo.pxr5100\n");
    return 1;
  }
  tarvo::IIoDriver* driver = nullptr;
  const HRESULT created =
      factory->CreateInstance(nullptr, tarvo::IID_IIoDriver, reinterpret_cast<void**>(&driver));
  factory->Release();
  if (created != S_OK) {
    std::fprintf(stderr, "CreateInstance failed: 0x%08X\n", static_cast<unsigned>(created));
    return 1;
  }

  tarvo::RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver->GetRegisterTable(&table, &count);
  std::printf("Tarvo.pxr5100 registers:");
  for (int16_t i = 0; i < count; ++i) std::printf(" %s", table[i].Name);
  std::printf("\n\n%-14s %-6s %-28s %s\n", "address", "result", "register/module/channel/point",
              "error text");

  for (const char* address : {"TA5.1.2", "wb12.7.63", "WM127.7.63", "TA128.0.0", "TA5.8.0",
                              "TA5.0.64", "TA5.1", "TX5.1.2"}) {
    tarvo::IoItem item{};
    item.DataType = tarvo::kDataTypeFloat;
    const int32_t result = driver->ParseItem(address, &item);
    char fields[64];
    std::snprintf(fields, sizeof fields, "%d/%d/%d/%d", item.RegisterIndex, item.ModuleAddress,
                  item.Channel, item.Point);
    std::printf("%-14s %-6d %-28s %s\n", address, result, fields,
                Utf8(driver->GetErrorText()).c_str());
  }
  driver->Release();

  using CanUnloadNowFn = HRESULT (*)();
  auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(library, "DllCanUnloadNow"));
  std::printf("\nDllCanUnloadNow after the last Release: %s\n",
              canUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
  dlclose(library);
  return 0;
}
