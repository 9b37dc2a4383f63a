// The host's way in: load the shared library, get a class factory, create a
// driver, use it through IIoDriver only, release it, and check the server
// may be unloaded.
#include <dlfcn.h>

#include "gtest/gtest.h"
#include "tarvo/tarvo.h"

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();
using RegisterServerFn = HRESULT (*)();

class Library : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = dlopen(TARVO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle_, nullptr) << dlerror();
    getClassObject_ = reinterpret_cast<GetClassObjectFn>(dlsym(handle_, "DllGetClassObject"));
    canUnloadNow_ = reinterpret_cast<CanUnloadNowFn>(dlsym(handle_, "DllCanUnloadNow"));
    ASSERT_NE(getClassObject_, nullptr);
    ASSERT_NE(canUnloadNow_, nullptr);
  }
  void TearDown() override {
    if (handle_ != nullptr) dlclose(handle_);
  }

  void* handle_ = nullptr;
  GetClassObjectFn getClassObject_ = nullptr;
  CanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(Library, ExportsTheServerEntryPointsAndExtensions) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer",
                           "DllUnregisterServer", "TarvoSetPortDevice", "TarvoSetTraceHandler"})
    EXPECT_NE(dlsym(handle_, name), nullptr) << name;
  // Nothing of the implementation leaks out.
  EXPECT_EQ(dlsym(handle_, "_ZN5tarvo9ErrorTextEi"), nullptr);
  auto registerServer = reinterpret_cast<RegisterServerFn>(dlsym(handle_, "DllRegisterServer"));
  EXPECT_EQ(registerServer(), S_OK);
}

TEST_F(Library, HostCreatesAPxr5100AndParsesItems) {
  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      getClassObject_(tarvo::CLSID_Cpxr5100, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  IUnknown* unknown = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown)),
            S_OK);
  factory->Release();
  EXPECT_EQ(canUnloadNow_(), S_FALSE);

  tarvo::IIoDriver* driver = nullptr;
  ASSERT_EQ(unknown->QueryInterface(tarvo::IID_IIoDriver, reinterpret_cast<void**>(&driver)), S_OK);
  unknown->Release();

  tarvo::RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver->GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 7);
  EXPECT_STREQ(table[0].Name, "TA");
  EXPECT_STREQ(table[6].Name, "WM");

  tarvo::IoItem item{};
  item.DataType = tarvo::kDataTypeFloat;
  EXPECT_EQ(driver->ParseItem("WB5.1.2", &item), 1);
  EXPECT_EQ(item.RegisterIndex, 4);
  EXPECT_EQ(item.ModuleAddress, 5);
  EXPECT_EQ(item.Channel, 1);
  EXPECT_EQ(item.Point, 2);
  EXPECT_STREQ(driver->GetErrorText(), "OK");

  EXPECT_EQ(driver->ParseItem("TA5.0.64", &item), 0);
  // "错误的温度点号" in GBK.
  EXPECT_STREQ(driver->GetErrorText(), "\xB4\xED\xCE\xF3\xB5\xC4\xCE\xC2\xB6\xC8\xB5\xE3\xBA\xC5");
  EXPECT_STREQ(driver->GetErrorText(), "OK");

  EXPECT_EQ(driver->Release(), 0u);
  EXPECT_EQ(canUnloadNow_(), S_OK);
}

TEST_F(Library, RefusesUnknownClassesAndAggregation) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject_(tarvo::IID_IIoDriver, IID_IClassFactory, &object),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  IClassFactory* factory = nullptr;
  ASSERT_EQ(
      getClassObject_(tarvo::CLSID_Cpxr5100, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
      S_OK);
  IUnknown* outer = reinterpret_cast<IUnknown*>(factory);
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(canUnloadNow_(), S_OK);
  factory->Release();
}

}  // namespace
