// The COM frame around a driver: interface table, lifetime, server lock,
// error-code discipline and the guard at every slot.
#include "driver/com_driver.h"

#include <functional>
#include <new>

#include "driver/error_text.h"
#include "driver/server_lock.h"
#include "gtest/gtest.h"
#include "pxr5100/pxr5100.h"

namespace tarvo {
namespace {

IIoDriver* NewDriver() {
  void* object = nullptr;
  EXPECT_EQ(ComDriver<Cpxr5100>::Create(IID_IIoDriver, &object), S_OK);
  return static_cast<IIoDriver*>(object);
}

IoItem FloatItem() {
  IoItem item{};
  item.DataType = kDataTypeFloat;
  return item;
}

TEST(ComDriver, AnswersItsInterfaceTable) {
  IIoDriver* driver = NewDriver();
  struct Case {
    const IID* iid;
    HRESULT result;
  };
  const Case cases[] = {
      {&IID_IIoDriver, S_OK}, {&IID_IUnknown, S_OK},           {&IID_IDispatch, S_OK},
      {&DIID_Ipxr5100, S_OK}, {&DIID_IPxr5303, E_NOINTERFACE}, {&IID_IClassFactory, E_NOINTERFACE},
  };
  for (const Case& c : cases) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(driver->QueryInterface(*c.iid, &out), c.result);
    if (c.result == S_OK) {
      ASSERT_NE(out, nullptr);
      static_cast<IUnknown*>(out)->Release();
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
  // IUnknown is the IIoDriver part; both dispatch IIDs give the same part.
  void* unknown = nullptr;
  void* dispatch = nullptr;
  void* dispinterface = nullptr;
  driver->QueryInterface(IID_IUnknown, &unknown);
  driver->QueryInterface(IID_IDispatch, &dispatch);
  driver->QueryInterface(DIID_Ipxr5100, &dispinterface);
  EXPECT_EQ(unknown, static_cast<void*>(driver));
  EXPECT_EQ(dispatch, dispinterface);
  EXPECT_NE(dispatch, unknown);
  static_cast<IUnknown*>(unknown)->Release();
  static_cast<IUnknown*>(dispatch)->Release();
  static_cast<IUnknown*>(dispinterface)->Release();
  EXPECT_EQ(driver->Release(), 0u);
}

TEST(ComDriver, DispatchHasNoMembers) {
  IIoDriver* driver = NewDriver();
  void* out = nullptr;
  ASSERT_EQ(driver->QueryInterface(IID_IDispatch, &out), S_OK);
  auto* dispatch = static_cast<IDispatch*>(out);
  OLECHAR name[] = {u'R', u'e', u'a', u'd', 0};
  LPOLESTR names[] = {name};
  DISPID id = 7;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_IUnknown, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(dispatch->Invoke(0, IID_IUnknown, 0, 1, nullptr, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  UINT count = 5;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  dispatch->Release();
  // The dispatch part keeps the object alive: the last release frees it.
  EXPECT_EQ(driver->Release(), 0u);
}

TEST(ComDriver, EachLiveObjectHoldsTheServer) {
  ASSERT_FALSE(ServerLocked());
  IIoDriver* first = NewDriver();
  IIoDriver* second = NewDriver();
  EXPECT_TRUE(ServerLocked());
  first->Release();
  EXPECT_TRUE(ServerLocked());
  EXPECT_EQ(second->AddRef(), 2u);
  EXPECT_EQ(second->Release(), 1u);
  EXPECT_TRUE(ServerLocked());
  second->Release();
  EXPECT_FALSE(ServerLocked());
}

TEST(ComDriver, CreateReportsAnUnknownInterface) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(ComDriver<Cpxr5100>::Create(IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_FALSE(ServerLocked());  // the refused object is gone
  EXPECT_EQ(ComDriver<Cpxr5100>::Create(IID_IIoDriver, nullptr), E_POINTER);
}

// A class whose constructor cannot get its memory (its tables, say).
struct UnbuildableDriver : DriverBase {
  static constexpr const IID& kDispatchIid = DIID_Ipxr5100;
  UnbuildableDriver() : DriverBase({}) { throw std::bad_alloc(); }
  int32_t ParseItem(const char*, IoItem*) { return 0; }
  int32_t ReadItem(IoItem*, IoValue*) { return 0; }
  int32_t WriteItem(IoItem*, IoValue*) { return 0; }
};

TEST(ComDriver, ACreationThatRunsOutOfMemoryReportsIt) {
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(ComDriver<UnbuildableDriver>::Create(IID_IIoDriver, &object), E_OUTOFMEMORY);
  EXPECT_EQ(object, nullptr);
  EXPECT_FALSE(ServerLocked());
}

TEST(ComDriver, ErrorTextIsReturnedOnceThenOk) {
  IIoDriver* driver = NewDriver();
  EXPECT_STREQ(driver->GetErrorText(), "OK");
  IoItem item = FloatItem();
  EXPECT_EQ(driver->ParseItem("TX5.1.2", &item), 0);
  EXPECT_STREQ(driver->GetErrorText(), ErrorText(ErrRegisterUnsupported));
  EXPECT_STREQ(driver->GetErrorText(), "OK");
  driver->Release();
}

TEST(ComDriver, ReservedSlotsAndClosePortLeaveAPendingCode) {
  IIoDriver* driver = NewDriver();
  IoItem item = FloatItem();
  ASSERT_EQ(driver->ParseItem("TA128.1.2", &item), 0);
  EXPECT_EQ(driver->ReservedA(42), 1);
  EXPECT_EQ(driver->ReservedB(1, 2), 1);
  EXPECT_EQ(driver->ClosePort(0), 1);  // never opened
  EXPECT_EQ(driver->ClosePort(0), 1);
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver->GetRegisterTable(&table, &count);
  EXPECT_STREQ(driver->GetErrorText(), ErrorText(ErrModuleAddress));
  driver->Release();
}

TEST(ComDriver, RegisterTableOfPxr5100) {
  IIoDriver* driver = NewDriver();
  RegisterDesc* table = nullptr;
  int16_t count = 0;
  driver->GetRegisterTable(&table, &count);
  ASSERT_EQ(count, 7);
  const char* names[] = {"TA", "TB", "WA", "WB", "UA", "UB", "WM"};
  for (int i = 0; i < count; ++i) {
    EXPECT_STREQ(table[i].Name, names[i]);
    EXPECT_EQ(table[i].Access, kAccessRead);
    EXPECT_EQ(table[i].DataType1, kDataTypeFloat);
    EXPECT_EQ(table[i].DataType2, kDataTypeFloat);
  }
  driver->GetRegisterTable(nullptr, nullptr);  // tolerated
  driver->Release();
}

TEST(ComDriver, WriteItemOfAReadOnlyFamilyClearsThePendingCode) {
  IIoDriver* driver = NewDriver();
  IoItem item = FloatItem();
  IoValue value{};
  ASSERT_EQ(driver->ParseItem("TA5", &item), 0);
  EXPECT_EQ(driver->WriteItem(0, &item, &value), 1);
  EXPECT_STREQ(driver->GetErrorText(), "OK");
  driver->Release();
}

TEST(ComDriver, NullRecordsFailTheSlotWithItsCode) {
  IIoDriver* driver = NewDriver();
  IoItem item = FloatItem();
  IoValue value{};
  struct Case {
    const char* slot;
    std::function<int32_t()> call;
    DriverError code;
  };
  const Case cases[] = {
      {"OpenPort", [&] { return driver->OpenPort(nullptr); }, ErrCreatePort},
      {"ParseItem text", [&] { return driver->ParseItem(nullptr, &item); }, ErrRegisterName},
      {"ParseItem item", [&] { return driver->ParseItem("TA5.1.2", nullptr); }, ErrRegisterName},
      {"ReadItem item", [&] { return driver->ReadItem(0, nullptr, &value); }, ErrReadData},
      {"ReadItem value", [&] { return driver->ReadItem(0, &item, nullptr); }, ErrReadData},
      {"WriteItem", [&] { return driver->WriteItem(0, nullptr, nullptr); }, ErrPortWrite},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(), 0) << c.slot;
    EXPECT_STREQ(driver->GetErrorText(), ErrorText(c.code)) << c.slot;
  }
  driver->Release();
}

}  // namespace
}  // namespace tarvo
